// The report: one line per game of the players whose records it reads,
// for a teacher, as a table or as CSV.  Run by root with the class record,
// it reads every player's; anyone else, their own.  A PLACE names a home,
// whose record is read, or a record.  It may run as root over other
// users' homes, so it reads only regular files that belong to the owner
// of the home they lie in, checked on the opened file and reached through
// no link, and prints nothing of a record but what it read as its lines.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "engine.hpp"

namespace {

struct Row {
	Buf player, home, dir;	// dir unescaped
	Game g;
};

struct Rows {
	Row **r = nullptr;
	long n = 0;
	long skipped = 0;
	const char *player = "", *home = "";
	Rows() = default;
	Rows(const Rows &) = delete;
	Rows &operator=(const Rows &) = delete;
	~Rows()
	{
		for (long i = 0; i < n; i++) {
			r[i]->~Row();
			free(r[i]);
		}
		free(r);
	}
	void add(const Game &g)
	{
		Row **q = static_cast<Row **>(realloc(r, (n + 1) * sizeof *r));
		if (!q)
			abort();
		r = q;
		Row *row = new (calloc(1, sizeof(Row))) Row;
		row->player.add(player);
		row->home.add(home);
		unescape(row->dir, g.dir.view());
		row->g.number = g.number;
		row->g.dir.add(g.dir.view());
		row->g.began = g.began, row->g.time = g.time;
		memcpy(row->g.done, g.done, sizeof g.done);
		memcpy(row->g.taken, g.taken, sizeof g.taken);
		memcpy(row->g.last, g.last, sizeof g.last);
		row->g.runs = g.runs, row->g.hints = g.hints, row->g.active = g.active;
		r[n++] = row;
	}
};

void add_game(const Game &g, void *rows) { static_cast<Rows *>(rows)->add(g); }

void login(Buf &to, uid_t uid)
{
	if (struct passwd *pw = getpwuid(uid))
		to.add(pw->pw_name);
	else
		to.num(uid);
}

// The games of the record in fd, a file of uid's.
void read_record(Rows &rows, int fd, uid_t uid, std::string_view home)
{
	Buf player, h;
	login(player, uid);
	h.add(home);
	rows.player = player.p;
	rows.home = h.p;
	each_game(fd, add_game, &rows, rows.skipped);
	rows.player = rows.home = "";
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

bool read_place(Rows &rows, const char *place)
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
		read_record(rows, fd, st.st_uid, "");
		close(fd);
		return true;
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
		close(at);
		if (next < 0)
			return true;	// no game played there
		at = next;
	}
	int rec = owned_file(at, "record", owner, false);
	if (rec < 0 && faccessat(at, "record", F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
		close(at);
		warn(Buf().add(name.view()).add("/.local/state/pacifica/record is not a regular file of its owner's; not read").view());
		return false;
	}
	close(at);
	if (rec >= 0) {
		Buf home;
		home.add(place);
		while (home.n > 1 && home.p[home.n - 1] == '/')
			home.p[--home.n] = '\0';
		read_record(rows, rec, owner, home.view());
		close(rec);
	}
	return true;
}

void read_class(Rows &rows)
{
	if (getuid() != 0) {
		read_record(rows, record.fd, getuid(), "");
		return;
	}
	DIR *d = opendir(PACIFICA_CLASS_RECORD);
	while (struct dirent *e = d ? readdir(d) : nullptr) {
		long uid;
		if (!to_number(e->d_name, uid))
			continue;
		int fd = owned_file(dirfd(d), e->d_name, uid, false);
		if (fd < 0)
			continue;
		read_record(rows, fd, uid, "");
		close(fd);
	}
	if (d)
		closedir(d);
}

int by_player(const void *a, const void *b)
{
	const Row *x = *static_cast<Row *const *>(a), *y = *static_cast<Row *const *>(b);
	int c = strcmp(x->player.p, y->player.p);
	return c ? c : strcmp(x->dir.p, y->dir.p);
}

void local_time(Buf &to, time_t t)
{
	char s[32];
	struct tm tm;
	localtime_r(&t, &tm);
	strftime(s, sizeof s, "%m-%d %H:%M", &tm);
	to.add(s);
}

void pad(Buf &to, std::string_view s, size_t width, bool right = false)
{
	if (right)
		for (size_t i = s.size(); i < width; i++)
			to.add(' ');
	to.add(s);
	if (!right)
		for (size_t i = s.size(); i < width; i++)
			to.add(' ');
}

void table(Buf &b, const Rows &rows)
{
	// Each column's width, and whether it is aligned to the right.
	static constexpr struct {
		size_t width;
		bool right;
	} column[] = {{9, false}, {17, false}, {5, true}, {9, false}, {4, true}, {11, false}, {11, false}, {6, true}};
	auto line = [&](std::initializer_list<std::string_view> cells) {
		size_t i = 0;
		for (std::string_view cell : cells) {
			if (i)
				b.add(' ');
			pad(b, cell, column[i].width, column[i].right);
			i++;
		}
		b.add('\n');
	};
	line({"PLAYER", "GAME", "STEPS", "ON", "RUNS", "BEGAN", "LAST", "PLAYED"});
	long players = 0, finished = 0;
	for (long i = 0; i < rows.n; i++) {
		const Row &r = *rows.r[i];
		players += i == 0 || strcmp(rows.r[i - 1]->player.p, r.player.p) != 0;
		int on = r.g.on();
		finished += on == story::nsteps;
		Buf game, steps, runs, began, last, played, player;
		shown(player, r.player.view());
		std::string_view dir = r.dir.view(), home = r.home.view();
		if (!home.empty() && dir == home)
			game.add("~");
		else if (!home.empty() && dir.substr(0, home.size() + 1) == Buf().add(home).add('/').view())
			shown(game.add("~"), dir.substr(home.size()));
		else
			shown(game, dir);
		steps.num(r.g.ndone()).add('/').num(story::nsteps);
		for (bool taken : r.g.taken)
			if (taken) {
				steps.add('~');
				break;
			}
		runs.num(r.g.runs);
		local_time(began, r.g.began);
		local_time(last, r.g.time);
		long s = r.g.active;
		if (s < 60)
			played.add("<1m");
		else if (s < 3600)
			played.num(s / 60).add('m');
		else
			played.num(s / 3600).add('h').add(s % 3600 / 60 < 10 ? "0" : "").num(s % 3600 / 60);
		line({player.view(), game.view(), steps.view(), on < story::nsteps ? story::steps[on].name : "finished",
		      runs.view(), began.view(), last.view(), played.view()});
	}
	b.num(players).add(players == 1 ? " player, " : " players, ").num(rows.n).add(rows.n == 1 ? " game, " : " games, ");
	b.num(finished).add(" finished.");
	if (rows.skipped)
		b.add("  ").num(rows.skipped).add(rows.skipped == 1 ? " record line could not be read and was skipped."
		                                                   : " record lines could not be read and were skipped.");
	b.add('\n');
}

void csv_field(Buf &b, std::string_view s)
{
	if (s.find_first_of("\",\r\n") == s.npos) {
		b.add(s);
		return;
	}
	b.add('"');
	for (char c : s)
		b.add(c == '"' ? "\"\"" : std::string_view(&c, 1));
	b.add('"');
}

void csv(Buf &b, const Rows &rows)
{
	b.add("player,directory,steps_done,steps,on,runs_since_step,began,last_activity,played_seconds\r\n");
	for (long i = 0; i < rows.n; i++) {
		const Row &r = *rows.r[i];
		int on = r.g.on();
		csv_field(b, r.player.view());
		b.add(',');
		csv_field(b, r.dir.view());
		b.add(',').num(r.g.ndone()).add(',').num(story::nsteps).add(',');
		b.add(on < story::nsteps ? story::steps[on].name : "finished").add(',').num(r.g.runs).add(',');
		stamp(b, r.g.began);
		b.add(',');
		stamp(b, r.g.time);
		b.add(',').num(r.g.active).add("\r\n");
	}
}

}  // namespace

int cmd_report(int argc, char **argv)
{
	bool as_csv = false;
	int first = argc, status = 0;
	for (int i = 1; i < argc; i++) {
		std::string_view a = argv[i];
		if (a == "--csv") {
			as_csv = true;
		} else if (a == "--") {
			first = i + 1;
			break;
		} else if (a.size() > 1 && a[0] == '-') {
			Buf b;
			b.add("pacifica: unknown option: ").add(a).add('\n');
			b.add("usage: pacifica --report [--csv] [PLACE...]\n");
			err(b.view());
			return 2;
		} else {
			first = i;
			break;
		}
	}
	Rows rows;
	if (first >= argc) {
		Buf why;
		if (record.witnessed)
			read_class(rows);
		else if (open_record(false, why) && record.fd >= 0)
			read_record(rows, record.fd, getuid(), getenv("HOME") ? getenv("HOME") : "");
		else if (why.n)
			die(why.view());
	}
	for (int i = first; i < argc; i++)
		if (std::string_view(argv[i]) != "--csv" && !read_place(rows, argv[i]))
			status = 1;
	if (rows.n > 1)
		qsort(rows.r, rows.n, sizeof *rows.r, by_player);
	Buf b;
	if (as_csv)
		csv(b, rows);
	else
		table(b, rows);
	if (!write_all(1, b.view()) && errno != EPIPE)
		die(Buf().add("cannot write the report: ").add(strerror(errno)).view());
	if (as_csv && rows.skipped)
		warn(Buf().num(rows.skipped).add(rows.skipped == 1 ? " record line could not be read and was skipped"
		                                                   : " record lines could not be read and were skipped").view());
	return status;
}
