// The report: one line per game of the players whose records it reads,
// for a teacher.  With the class record, a teacher (root, or of the group
// the settings name) reads every player's, anyone else their own.  A
// PLACE names a home, whose record is read, or a record; --merge reads
// the CSVs of other machines instead; a roster lists the students with
// no game too.  It may run as root over other users' homes, so it reads
// only regular files that belong to the owner of the home they lie in,
// checked on the opened file and reached through no link, and prints
// nothing of a record but what it read as its lines.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "report/report.hpp"
#include "util/names.hpp"
#include "util/out.hpp"
#include "classrec.hpp"
#include "record/record.hpp"
#include "shell/verbs.hpp"

namespace {

// The records already read, by device and inode, so that a home named
// twice (alice/ and ./alice) is reported once.
struct Seen {
	struct Key {
		dev_t dev;
		ino_t ino;
	} *k = nullptr;
	size_t cap = 0, n = 0;
	~Seen() { free(k); }
	bool first(const struct stat &st)
	{
		if (2 * (n + 1) > cap) {
			Seen bigger;
			bigger.cap = cap ? cap * 2 : 1024;
			bigger.k = static_cast<Key *>(calloc(bigger.cap, sizeof(Key)));
			if (!bigger.k)
				abort();
			for (size_t i = 0; i < cap; i++)
				if (k[i].ino)
					bigger.put(k[i]);
			free(k);
			k = bigger.k, cap = bigger.cap;
			bigger.k = nullptr;
		}
		return put({st.st_dev, st.st_ino | (ino_t(1) << (sizeof(ino_t) * 8 - 1))});
	}
	bool put(Key key)
	{
		size_t i = (key.ino * 0x9e3779b97f4a7c15ULL ^ key.dev) & (cap - 1);
		for (; k[i].ino; i = (i + 1) & (cap - 1))
			if (k[i].ino == key.ino && k[i].dev == key.dev)
				return false;
		k[i] = key;
		n++;
		return true;
	}
};

struct Source {
	Rows &rows;
	const char *witness;
	std::string_view player, home, host;
};

void add_game(const Game &g, void *ctx)
{
	const Source &src = *static_cast<Source *>(ctx);
	Row &r = src.rows.add();
	r.player.add(src.player);
	r.home.add(src.home);
	r.host.add(src.host);
	unescape(r.dir, g.dir.view());
	r.witness = src.witness;
	for (bool taken : g.taken)
		if (taken)
			r.witness = "taken";
	r.g.number = g.number;
	r.g.began = g.began, r.g.time = g.time;
	memcpy(r.g.done, g.done, sizeof g.done);
	memcpy(r.g.taken, g.taken, sizeof g.taken);
	memcpy(r.g.last, g.last, sizeof g.last);
	r.g.runs = g.runs, r.g.hints = g.hints, r.g.active = g.active;
	// Why the player is stuck: the last answer of the program of the step
	// they are on.
	int on = g.on();
	std::string_view last = g.last;
	if (on >= story::nsteps)
		return;
	if (last == "bridge:word" && story::steps[on].name == "bridge")
		r.stuck.add("wrong word given");
	for (const story::Answer &a : story::answers)
		if (!a.done && a.program == story::steps[on].command && last.size() == a.program.size() + 1 + a.key.size() &&
		    last.substr(0, a.program.size()) == a.program && last.substr(a.program.size() + 1) == a.key)
			r.stuck.add(a.stuck);
}

Buf host;

// The games of a record of uid's, of the generations gen, or the one the
// recorder holds; false when it could not be read whole, or is no record
// at all.
bool read_record(Rows &rows, const int (*gen)[2], uid_t uid, std::string_view home, const char *witness)
{
	Buf login;
	const User *u = user_of(uid);
	if (u)
		login.add(u->login);
	else
		login.num(uid);
	if (home.empty() && u && witness[0] == 'c')
		home = u->dir;
	Source src = {rows, witness, login.view(), home, host.view()};
	long before = rows.skipped, games = rows.n;
	bool whole = gen ? each_game_of(*gen, add_game, &src, rows.skipped) : each_game(add_game, &src, rows.skipped);
	if (whole && rows.n == games && rows.skipped > before) {
		rows.skipped = before;
		errno = EINVAL;
		return false;
	}
	return whole;
}

// A regular file of owner's below at, through no link; or -1.
int owned_file(int at, const char *name, uid_t owner, bool dir)
{
	int fd = openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (dir ? O_DIRECTORY : 0));
	struct stat st;
	if (fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == owner && (dir ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)))
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

// What a directory with no record in it is: the home of a student who has
// not begun, a playing directory, or nothing the report can read.
bool no_record(Rows &rows, int fd, const struct stat &st, std::string_view name)
{
	const User *u = user_of(st.st_uid);
	struct stat home;
	if (u && stat(u->dir, &home) == 0 && home.st_dev == st.st_dev && home.st_ino == st.st_ino) {
		Row &r = rows.add();
		r.player.add(u->login);
		r.host.add(host.view());
		r.begun = false;
		return true;
	}
	bool playing = false;
	for (std::string_view prop : {std::string_view("Jean"), std::string_view("Pacifica"), story::alert})
		playing |= faccessat(fd, Buf().add(prop).p, F_OK, AT_SYMLINK_NOFOLLOW) == 0;
	warn(Buf().add(name).add(playing ? " is a playing directory; its player's home holds the record"
	                                 : " is no home with a record of play")
	             .add("; not read")
	             .view());
	return false;
}

bool read_place(Rows &rows, Seen &seen, const char *place)
{
	Buf name;
	shown(name, place);
	int fd = open(place, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
	struct stat st;
	if (fd < 0 && errno == ELOOP) {
		warn(Buf().add(name.view()).add(" is not a regular file; not read").view());
		return false;
	}
	if (fd < 0 || fstat(fd, &st) != 0) {
		warn(Buf().add("there is no ").add(name.view()).add("; not read").view());
		return false;
	}
	if (S_ISREG(st.st_mode)) {
		int gen[2] = {fd, -1};
		bool whole = !seen.first(st) || read_record(rows, &gen, st.st_uid, "", "home");
		close(fd);
		if (!whole)
			warn(Buf().add(name.view()).add(errno == EINVAL ? " is not a record of play" : ": ")
			             .add(errno == EINVAL ? "" : strerror(errno)).add("; not read").view());
		return whole;
	}
	if (!S_ISDIR(st.st_mode)) {
		close(fd);
		warn(Buf().add(name.view()).add(" is not a regular file; not read").view());
		return false;
	}
	// A home: its record below it, every step of the way its owner's.
	uid_t owner = st.st_uid;
	int at = fd;
	for (const char *part : {".local", "state", "pacifica"}) {
		int next = owned_file(at, part, owner, true);
		if (next < 0) {
			bool ok = no_record(rows, fd, st, name.view());
			close(at);
			if (at != fd)
				close(fd);
			return ok;
		}
		if (at != fd)
			close(at);
		at = next;
	}
	int rec = owned_file(at, "record", owner, false);
	if (rec < 0 && faccessat(at, "record", F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
		close(at), close(fd);
		warn(Buf().add(name.view()).add("/.local/state/pacifica/record is not a regular file of its owner's; not read").view());
		return false;
	}
	close(at);
	if (rec < 0) {
		bool ok = no_record(rows, fd, st, name.view());
		close(fd);
		return ok;
	}
	close(fd);
	Buf home;
	home.add(place);
	while (home.n > 1 && home.p[home.n - 1] == '/')
		home.p[--home.n] = '\0';
	struct stat rs;
	int gen[2] = {rec, -1};
	bool whole = fstat(rec, &rs) != 0 || !seen.first(rs) || read_record(rows, &gen, owner, home.view(), "home");
	close(rec);
	if (!whole)
		warn(Buf().add(name.view()).add("/.local/state/pacifica/record could not be read whole").view());
	return whole;
}

// Every record of the class, for a teacher, as the recorder opened them
// before it gave up its group.
void read_class(Rows &rows)
{
	uid_t uid;
	int gen[2];
	std::string_view why;
	for (long i = 0; class_player(i, uid, gen, why); i++) {
		if (why.empty() && (gen[0] < 0 || read_record(rows, &gen, uid, "", "class")))
			continue;
		rows.unread++;
		Buf name;
		if (const User *u = user_of(uid))
			shown(name, u->login);
		else
			name.num(uid);
		warn(Buf().add("the class record of ").add(name.view()).add(" could not be read")
		             .add(why.empty() ? "" : ": ").add(why).view());
	}
}

int by_player(const void *a, const void *b)
{
	const Row *x = *static_cast<Row *const *>(a), *y = *static_cast<Row *const *>(b);
	if (int c = order(x->player.view(), y->player.view()))
		return c;
	if (x->begun != y->begun)
		return x->begun ? -1 : 1;
	int c = order(x->host.view(), y->host.view());
	return c ? c : order(x->dir.view(), y->dir.view());
}

// A student not begun on one machine who plays on another is playing.
void drop_not_begun_players(Rows &rows)
{
	each_player(rows, [&](long first, long end, long best) {
		for (long i = first; i < end; i++)
			if (!rows.r[i]->begun && rows.r[best]->begun)
				rows.drop(i);
	});
	rows.compact();
}

[[noreturn]] void usage(std::string_view what, std::string_view arg)
{
	Buf b, shown_arg;
	shown(shown_arg, arg);
	b.add("pacifica: ").add(what).add(shown_arg.view()).add('\n');
	b.add(usage_text);
	err(b.view());
	exit(2);
}

}  // namespace

int cmd_report(int argc, char **argv)
{
	bool as_csv = false, each_student = false, merge = false;
	int first = argc, status = 0;
	Roster roster;
	for (int i = 1; i < argc; i++) {
		std::string_view a = argv[i];
		if (a == "--csv") {
			as_csv = true;
		} else if (a == "--per-student") {
			each_student = as_csv = true;
		} else if (a == "--class" || a == "--roster") {
			if (i + 1 >= argc)
				usage(a, " needs an argument");
			if (!(a == "--class" ? read_group(roster, argv[i + 1]) : read_roster(roster, argv[i + 1])))
				return 1;
			i++;
		} else if (a == "--merge") {
			merge = true;
			first = i + 1;
			if (first >= argc)
				usage("--merge", " needs the CSV files to merge");
			break;
		} else if (a == "--") {
			first = i + 1;
			break;
		} else if (a.size() > 1 && a[0] == '-') {
			usage("unknown option: ", a);
		} else {
			first = i;
			break;
		}
	}
	char name[256] = "";
	gethostname(name, sizeof name - 1);
	host.add(name);
	Rows rows;
	Seen seen;
	if (merge) {
		for (int i = first; i < argc; i++)
			if (!read_csv(rows, argv[i]))
				status = 1;
	} else if (first >= argc) {
		Buf why;
		if (class_teacher()) {
			read_class(rows);
		} else if (record_witnessed()) {
			if (open_record(false, why) && !read_record(rows, nullptr, getuid(), "", "class"))
				rows.unread++;
			else if (class_refusal().size())
				die(class_refusal());
		} else if (open_record(false, why)) {
			if (!read_record(rows, nullptr, getuid(), getenv("HOME") ? getenv("HOME") : "", "home"))
				rows.unread++;
		} else if (why.n) {
			die(why.view());
		}
	}
	for (int i = first; !merge && i < argc; i++)
		if (!read_place(rows, seen, argv[i]))
			status = 1;
	if (rows.n > 1)
		qsort(rows.r, rows.n, sizeof *rows.r, by_player);
	if (roster.given) {
		keep_roster(rows, roster, host.view());
		qsort(rows.r, rows.n, sizeof *rows.r, by_player);
	}
	drop_not_begun_players(rows);

	bool plain = !isatty(1);
	Buf b;
	if (each_student) {
		per_student(b, rows, plain);
	} else if (as_csv) {
		csv(b, rows, plain);
	} else {
		table(b, rows);
		summary(b, rows);
	}
	if (stdout_closed)
		die("cannot write the report: standard output is closed");
	signal(SIGPIPE, SIG_IGN);	// a reader that has read enough is no failure
	if (!write_all(1, b.view()) && errno != EPIPE)
		die(Buf().add("cannot write the report: ").add(strerror(errno)).view());
	if (rows.skipped || rows.unread) {
		Buf w;
		if (rows.skipped)
			w.num(rows.skipped).add(rows.skipped == 1 ? " record line could not be read and was skipped"
			                                          : " record lines could not be read and were skipped");
		if (rows.unread)
			w.add(w.n ? "; " : "").num(rows.unread).add(rows.unread == 1 ? " record could not be read" : " records could not be read");
		warn(Buf().add("the report is not whole: ").add(w.view()).view());
		status = 1;
	}
	return status;
}
