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
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "report/report.hpp"
#include "util/names.hpp"
#include "util/out.hpp"
#include "classrec.hpp"
#include "record/record.hpp"
#include "shell/hints.hpp"
#include "shell/verbs.hpp"
#include "util/conf.hpp"

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
	uid_t uid;
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
	r.uid = src.uid;
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

// The games of a record of uid's, of the generations gen (and its index),
// or the one the recorder holds; false when it could not be read whole, or is no record
// at all.
bool read_record(Rows &rows, const int (*gen)[3], uid_t uid, std::string_view home, const char *witness)
{
	Buf login;
	const User *u = user_of(uid);
	if (u)
		login.add(u->login);
	else
		login.num(uid);
	if (home.empty() && u && witness[0] == 'c')
		home = u->dir;
	Source src = {rows, witness, login.view(), home, host.view(), uid};
	long before = rows.skipped, games = rows.n;
	bool whole = gen ? each_game_of(*gen, add_game, &src, rows.skipped) : each_game(add_game, &src, rows.skipped);
	if (whole && rows.n == games && rows.skipped > before) {
		rows.skipped = before;
		errno = EINVAL;
		return false;
	}
	return whole;
}

// path opened from / (or the working directory) one component at a time,
// through no link: a link planted anywhere along it, as a player may plant
// one in a home of theirs, is refused.
int open_walked(const char *path, int flags)
{
	std::string_view rest = path;
	int at = open(rest.substr(0, 1) == "/" ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	while (at >= 0) {
		while (!rest.empty() && rest[0] == '/')
			rest.remove_prefix(1);
		if (rest.empty())
			return at;
		size_t slash = rest.find('/');
		Buf part;
		part.add(rest.substr(0, slash));
		rest = slash == rest.npos ? std::string_view() : rest.substr(slash);
		bool last = rest.find_first_not_of('/') == rest.npos;
		int next = openat(at, part.p, (last ? flags : O_RDONLY | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
		int why = errno;
		struct stat st;
		// A link where a directory is wanted is refused as not one.
		if (next < 0 && why == ENOTDIR && fstatat(at, part.p, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
			why = ELOOP;
		close(at);
		errno = why;
		if (last)
			return next;
		at = next;
	}
	return -1;
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
	int fd = open_walked(place, O_RDONLY | O_NONBLOCK);
	struct stat st;
	if (fd < 0 && errno == ELOOP) {
		warn(Buf().add(name.view()).add(" is reached through a symbolic link; not read").view());
		return false;
	}
	if (fd < 0 || fstat(fd, &st) != 0) {
		warn(Buf().add("there is no ").add(name.view()).add("; not read").view());
		return false;
	}
	if (S_ISREG(st.st_mode)) {
		int gen[3] = {fd, -1, -1};
		bool whole = !seen.first(st) || read_record(rows, &gen, st.st_uid, "", "home");
		close(fd);
		if (!whole)
			warn(Buf().add(name.view()).add(errno == EINVAL ? " is not a record of play" : errno == EFBIG ? " is larger than a record can be" : ": ")
			             .add(errno == EINVAL || errno == EFBIG ? "" : strerror(errno)).add("; not read").view());
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
	int rec = owned_file(at, "record", owner, false), previous = owned_file(at, "record.1", owner, false);
	int index = rec >= 0 ? owned_file(at, "index", owner, false) : -1;
	if (rec < 0 && faccessat(at, "record", F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
		close(at), close(fd);
		warn(Buf().add(name.view()).add("/.local/state/pacifica/record is not a regular file of its owner's; not read").view());
		return false;
	}
	close(at);
	if (rec < 0 && previous >= 0)
		close(previous);
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
	int gen[3] = {rec, previous, index};
	bool whole = fstat(rec, &rs) != 0 || !seen.first(rs) || read_record(rows, &gen, owner, home.view(), "home");
	close(rec);
	if (previous >= 0)
		close(previous);
	if (index >= 0)
		close(index);
	if (!whole)
		warn(Buf().add(name.view()).add("/.local/state/pacifica/record").add(errno == EFBIG ? " is larger than a record can be" : errno == EINVAL ? " is not a record of play" : " could not be read whole").add("; not read").view());
	return whole;
}

// The records of the class that could not be read, by their players'
// IDs, and why: said once the students asked for are known.
struct Unread {
	uid_t *uid = nullptr;
	Buf *why = nullptr;
	long n = 0;
	~Unread()
	{
		for (long i = 0; i < n; i++)
			why[i].~Buf();
		free(uid);
		free(static_cast<void *>(why));
	}
	void add(uid_t id, std::string_view reason)
	{
		uid_t *q = static_cast<uid_t *>(realloc(uid, (n + 1) * sizeof *uid));
		Buf *w = static_cast<Buf *>(realloc(static_cast<void *>(why), (n + 1) * sizeof *why));
		if (!q || !w)
			abort();
		uid = q, why = w;
		uid[n] = id;
		new (&why[n++]) Buf;
		why[n - 1].add(reason);
	}
} unread_class;

// Every record of the class, for a teacher, as the recorder opened them
// before it gave up its group.
void read_class(Rows &rows)
{
	uid_t uid;
	int gen[3];
	std::string_view why;
	for (long i = 0; class_player(i, uid, gen, why); i++)
		if (!why.empty() || (gen[0] >= 0 && !read_record(rows, &gen, uid, "", "class")))
			unread_class.add(uid, why);
}

// The class's records that could not be read, of the students asked for.
void say_unread(Rows &rows, const Roster &roster)
{
	for (long i = 0; i < unread_class.n; i++) {
		const User *u = user_of(unread_class.uid[i]);
		Buf login;
		if (u)
			login.add(u->login);
		else
			login.add("user ").num(unread_class.uid[i]);
		if (roster.given && (!u || !roster.has(login.view())))
			continue;
		Buf name;
		shown(name, login.view());
		std::string_view why = unread_class.why[i].view();
		warn(Buf().add("the class record of ").add(name.view()).add(" could not be read").add(why.empty() ? "" : ": ").add(why).view());
		rows.unread++;
	}
}

// Why a report of other players' games is refused to the caller, or
// nothing when it is not: only a teacher sees the class.
void may_see_class(Buf &why)
{
	if (class_teacher())
		return;
	if (class_refusal().size()) {
		why.add(class_refusal());
		return;
	}
	if (!record_witnessed()) {
		why.add("there is no class record here, only your own games: "
		        "name the homes to read, as in pacifica --report --roster FILE /home/*");
		return;
	}
	Buf group;
	struct group *gr = setting("teachers", group, true) && group.n ? getgrnam(group.p) : nullptr;
	const User *u = user_of(getuid());
	bool listed = false;
	for (char **m = gr ? gr->gr_mem : nullptr; u && m && *m; m++)
		listed |= strcmp(*m, u->login) == 0;
	listed |= gr && u && u->gid == gr->gr_gid;
	Buf name;
	shown(name, group.view());
	if (listed)
		why.add("you were made a teacher (of the group ").add(name.view())
		    .add(") after you logged in: log out and in again to report on the class");
	else if (group.n)
		why.add("only root and the teachers of the group ").add(name.view())
		    .add(" may report on other players' games");
	else
		why.add("only root may report on other players' games: no teachers group is named in ").add(conf.view());
}

// What the playing directory of a game shows, the mistake the hints would
// name, in a few words: read as the report's caller can, with no link
// followed, only in a directory of the player's own; false when none is
// found, or it cannot be looked at.
bool mistake_in(Buf &why, const Row &r)
{
	int step = r.g.on();
	const story::Want *want = nullptr;
	for (const story::Want &w : story::wants)
		if (step < story::nsteps && w.step == story::steps[step].name)
			want = &w;
	std::string_view dir = r.dir.view();
	if (!want || r.uid < 0 || dir.empty() || dir[0] != '/')
		return false;
	int at = open_walked(Buf().add(dir).p, O_RDONLY | O_DIRECTORY);
	struct stat st;
	if (at < 0 || fstat(at, &st) != 0 || st.st_uid != static_cast<uid_t>(r.uid)) {
		if (at >= 0)
			close(at);
		return false;
	}
	// The directory as opened, whatever its name leads to by now.
	Buf base;
	base.add("/proc/self/fd/").num(at);
	Mistake m;
	bool found = find_mistake(base.p, step, m);
	close(at);
	if (!found || m.row < 0)
		return false;
	std::string_view kind = story::hints[m.row].situation;
	if (kind == "misnamed" || kind == "misnamed-prop")
		why.add(m.found.view()).add(" for ").add(m.wanted.view());
	else if (kind == "too-deep")
		why.add(want->name).add(" one level too deep");
	else if (kind == "inside")
		why.add(m.found.view()).add(" inside ").add(m.dir.view());
	else if (kind == "renamed")
		why.add(want->name).add(" renamed ").add(m.found.view());
	else if (kind == "file-not-dir")
		why.add(m.found.view()).add(" is a file");
	else
		why.add(want->name).add(" in ").add(m.found.view());
	return true;
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

// A student not begun on one machine who plays on another is playing; one
// not begun anywhere is one row.
void drop_not_begun_players(Rows &rows)
{
	each_player(rows, [&](long first, long end, long best, long) {
		for (long i = first; i < end; i++)
			if (!rows.r[i]->begun && (rows.r[best]->begun || i != best))
				rows.drop(i);
	});
	rows.compact();
}

// The columns the table may take: COLUMNS, or the terminal's; 80 when
// neither says.
size_t table_width()
{
	long v;
	const char *c = getenv("COLUMNS");
	struct winsize ws;
	if (c && to_number(c, v) && v > 0)
		return v;
	if (isatty(1) && ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
		return ws.ws_col;
	return 80;
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

// A new term: the class record cleared, which the recorder did with its
// group before anything else; what it did said, and what students see.
int clear_class_record()
{
	std::string_view why;
	long n = class_cleared(why);
	if (!class_mode())
		die("there is no class record here: each player's record is in their home");
	if (class_refusal().size())
		die(class_refusal());
	if (n < 0)
		die(why.empty() ? std::string_view("the class record could not be cleared") : why);
	Buf b;
	b.add("Removed the records of ").num(n).add(n == 1 ? " player from " : " players from ").add(PACIFICA_CLASS_RECORD ".\n");
	b.add("At their next start, a student whose playing directory still holds a game\n");
	b.add("is told to type 'pacifica --new', which sets it aside, deleting nothing, and\n");
	b.add("begins a new game; anyone else begins a new game as at the first.\n");
	out(b.view());
	return 0;
}

}  // namespace

int cmd_report(int argc, char **argv)
{
	bool as_csv = false, each_student = false, merge = false, wide = false, points = false, options = true;
	bool clear = false, yes = false;
	int status = 0, nnames = 0;
	char **names = static_cast<char **>(calloc(argc + 1, sizeof *names));
	Roster roster;
	if (!names)
		abort();
	// Options anywhere, names of places or CSVs among them: one that
	// begins with - comes after --.
	for (int i = 1; i < argc; i++) {
		std::string_view a = argv[i];
		if (!options || a.size() < 2 || a[0] != '-') {
			names[nnames++] = argv[i];
		} else if (a == "--") {
			options = false;
		} else if (a == "--csv") {
			as_csv = true;
		} else if (a == "--per-student") {
			each_student = as_csv = true;
		} else if (a == "--points-possible") {
			points = true;
		} else if (a == "--wide") {
			wide = true;
		} else if (a == "--clear") {
			clear = true;
		} else if (a == "--yes") {
			yes = true;
		} else if (a == "--merge") {
			merge = true;
		} else if (a == "--class" || a == "--roster") {
			if (i + 1 >= argc)
				usage(a, " needs an argument");
			if (!(a == "--class" ? read_group(roster, argv[i + 1]) : read_roster(roster, argv[i + 1]))) {
				free(names);
				return 1;
			}
			i++;
		} else {
			usage("unknown option: ", a);
		}
	}
	if (clear && (as_csv || merge || wide || roster.given || nnames))
		usage("--clear goes alone, or with --yes", "");
	if (yes && !clear)
		usage("--yes goes with --new or --clear", "");
	if (clear) {
		free(names);
		return clear_class_record();
	}
	if (merge && nnames == 0)
		usage("--merge", " needs the CSV files to merge");
	if (points && !each_student)
		usage("--points-possible goes with --per-student", "");
	if (roster.given && !merge && nnames == 0) {
		Buf why;
		may_see_class(why);
		if (why.n)
			die(why.view());
	}
	char name[256] = "";
	gethostname(name, sizeof name - 1);
	host.add(name);
	Rows rows;
	Seen seen;
	rows.merged = merge;
	if (merge) {
		for (int i = 0; i < nnames; i++)
			if (!read_csv(rows, names[i])) {
				rows.unread++;
				status = 1;
			}
		drop_doubles(rows);
	} else if (nnames == 0) {
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
	for (int i = 0; !merge && i < nnames; i++)
		if (!read_place(rows, seen, names[i]))
			status = 1;
	free(names);
	if (rows.n > 1)
		qsort(rows.r, rows.n, sizeof *rows.r, by_player);
	roster.sort();
	say_unread(rows, roster);
	if (roster.given) {
		if (!keep_roster(rows, roster, host.view()))
			status = 1;
		if (rows.n > 1)
			qsort(rows.r, rows.n, sizeof *rows.r, by_player);
	}
	drop_not_begun_players(rows);
	for (long i = 0; i < rows.n; i++) {
		Buf why;
		if (rows.r[i]->begun && mistake_in(why, *rows.r[i])) {
			rows.r[i]->stuck.clear();
			rows.r[i]->stuck.add(why.view());
		}
	}

	Buf b;
	if (each_student) {
		per_student(b, rows, points);
	} else if (as_csv) {
		csv(b, rows);
	} else {
		table(b, rows, wide ? 0 : table_width());
		summary(b, rows);
	}
	if (stdout_closed)
		die("cannot write the report: standard output is closed");
	signal(SIGPIPE, SIG_IGN);	// a reader that has read enough is no failure
	if (!write_all(1, b.view()) && errno != EPIPE)
		die(Buf().add("cannot write the report: ").add(strerror(errno)).view());
	if (rows.skipped || rows.unread || rows.bad_rows) {
		Buf w;
		if (rows.skipped)
			w.num(rows.skipped).add(rows.skipped == 1 ? " record line could not be read and was skipped"
			                                          : " record lines could not be read and were skipped");
		if (rows.bad_rows)
			w.add(w.n ? "; " : "").num(rows.bad_rows).add(rows.bad_rows == 1 ? " CSV row did not fit its header and was skipped"
			                                                                : " CSV rows did not fit their header and were skipped");
		// Each CSV file not read was named already.
		if (rows.unread && !rows.merged)
			w.add(w.n ? "; " : "").num(rows.unread).add(rows.unread == 1 ? " record could not be read" : " records could not be read");
		if (w.n)
			warn(Buf().add("the report is not whole: ").add(w.view()).view());
		status = 1;
	}
	return status;
}
