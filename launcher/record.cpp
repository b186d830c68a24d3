// The record of play: the state of a game, the one fold that turns an
// event into the next state, the lines that carry it, and the reading of
// a record from its end, so that what a start or a run costs does not
// grow with the record.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "engine.hpp"

namespace {

// Past this a record takes only the lines that are progress; past the
// second bound, nothing.  A game played through takes a few kilobytes.
constexpr off_t record_bound = 4 << 20, progress_bound = record_bound + (256 << 10);
// A line is bounded by the names in it, which play.cpp bounds.
constexpr size_t line_bound = 8192;
// Active time counts the gaps between a game's events up to this long.
constexpr long idle_gap = 600;

}  // namespace

Game::Game()
{
	for (int i = 0; i < story::nsteps; i++)
		done[i] = -1, taken[i] = false;
}

int Game::on() const
{
	for (int i = 0; i < story::nsteps; i++)
		if (done[i] < 0)
			return i;
	return story::nsteps;
}

int Game::ndone() const
{
	int n = 0;
	for (long d : done)
		n += d >= 0;
	return n;
}

int step_index(std::string_view name)
{
	for (int i = 0; i < story::nsteps; i++)
		if (story::steps[i].name == name)
			return i;
	return -1;
}

int step_of_program(std::string_view program)
{
	for (int i = 0; i < story::nsteps; i++)
		if (story::steps[i].command == program)
			return i;
	return -1;
}

int answer_of(std::string_view program, int status, std::string_view output)
{
	for (int i = 0; i < story::nanswers; i++) {
		const story::Answer &a = story::answers[i];
		if (a.program != program || a.status != status)
			continue;
		if (a.opening == "*" || (a.opening.empty() ? output.empty() : output.substr(0, a.opening.size()) == a.opening))
			return i;
	}
	return -1;
}

static bool is_program(std::string_view name)
{
	for (std::string_view p : story::programs)
		if (p == name)
			return true;
	return false;
}

static void step_done(Game &g, int step, time_t t)
{
	if (step < 0 || g.done[step] >= 0)
		return;
	int needs = step_index(story::steps[step].needs);
	if (needs >= 0 && g.done[needs] < 0)
		return;
	g.done[step] = t > g.began ? t - g.began : 0;
	g.runs = g.hints = 0;
}

void new_game(Game &g, long number, std::string_view dir, time_t t)
{
	long games = g.games;
	g.~Game();
	new (&g) Game();
	g.number = number;
	g.games = games > number ? games : number;
	g.dir.add(dir);
	g.began = g.time = t;
	g.sessions = 1;
}

int hint_row(std::string_view situation)
{
	for (int i = 0; i < story::nhints; i++)
		if (story::hints[i].situation == situation)
			return i;
	abort();	// the situations the code names have rows in the table
}

void apply(Game &g, time_t t, std::string_view event, std::string_view detail)
{
	if (!g.left && t >= g.time && t - g.time <= idle_gap)
		g.active += t - g.time;
	if (t > g.time)
		g.time = t;
	g.left = event == "left";
	if (event == "resumed") {
		g.sessions++;
	} else if (event == "bridge") {
		step_done(g, step_index("bridge"), t);
		g.asked = 0, g.about = -1;
	} else if (event == "word") {
		g.words++;
		memcpy(g.last, "bridge:word", sizeof "bridge:word");
	} else if (event == "hint") {
		long row;
		g.hints++;
		if (to_number(detail, row) && row == g.about)
			g.asked++;
		else
			g.asked = 1, g.about = to_number(detail, row) ? row : -1;
	} else if (event == "outside") {
		g.outside++;
	} else if (event == "byhand") {
		g.nudged |= 1UL << hint_row("by-hand");
	} else if (event == "aside") {
		g.dir.clear();
		g.dir.add(detail);
	} else if (is_program(event)) {
		g.runs++;
		g.asked = 0, g.about = -1;
		Buf last;
		last.add(event).add(':').add(detail.substr(0, 20));
		memcpy(g.last, last.p, last.n + 1);
		for (const story::Answer &a : story::answers)
			if (a.program == event && a.key == detail && a.done)
				step_done(g, step_of_program(event), t);
	}
}

// STAMP TAB GAME TAB DIR TAB EVENT TAB DETAIL TAB STATE TAB "." NL, the
// state as words KEY=VALUE in a fixed order.
void format_line(Buf &to, time_t t, const Game &g, std::string_view event, std::string_view detail)
{
	stamp(to, t);
	to.add('\t').num(g.number).add('\t').add(g.dir.view()).add('\t').add(event).add('\t');
	to.add(detail.empty() ? "-" : detail).add('\t');
	int on = g.on();
	to.add("on=").add(on < story::nsteps ? story::steps[on].name : "finished");
	to.add(" began=").num(g.began).add(" done=");
	for (int i = 0; i < story::nsteps; i++) {
		if (i)
			to.add(',');
		if (g.done[i] >= 0)
			to.num(g.done[i]).add(g.taken[i] ? "~" : "");
	}
	to.add(" last=").add(g.last).add(" runs=").num(g.runs).add(" hints=").num(g.hints);
	to.add(" active=").num(g.active).add(" sessions=").num(g.sessions).add(" words=").num(g.words);
	to.add(" outside=").num(g.outside).add(" asked=").num(g.asked).add(" about=").num(g.about + 1);
	to.add(" nudged=").num(static_cast<long>(g.nudged & 0x7fffffffffffffff));
	to.add(" left=").num(g.left).add(" games=").num(g.games);
	to.add("\t.\n");
}

// The next field of s up to sep, taken off s.
static std::string_view field(std::string_view &s, char sep)
{
	size_t at = s.find(sep);
	std::string_view f = s.substr(0, at);
	s = at == s.npos ? std::string_view() : s.substr(at + 1);
	return f;
}

static bool key_number(std::string_view &s, std::string_view key, long &v)
{
	std::string_view f = field(s, ' ');
	return f.substr(0, key.size()) == key && to_number(f.substr(key.size()), v);
}

bool parse_line(std::string_view line, Game &g, std::string_view &event, std::string_view &detail)
{
	if (line.size() > line_bound || line.empty() || line[0] == '#')
		return false;
	std::string_view s = line, when = field(s, '\t'), number = field(s, '\t'), dir = field(s, '\t');
	event = field(s, '\t');
	detail = field(s, '\t');
	std::string_view state = field(s, '\t');
	time_t t;
	long began, left, about, nudged;
	if (s != "." || !parse_stamp(when, t) || !to_number(number, g.number) || g.number < 1 || dir.empty() ||
	    dir[0] != '/' || event.empty() || detail.empty())
		return false;
	for (char c : line)
		if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
			return false;
	std::string_view on = field(state, ' ');
	if (on.substr(0, 3) != "on=" || !key_number(state, "began=", began))
		return false;
	std::string_view done = field(state, ' ');
	if (done.substr(0, 5) != "done=")
		return false;
	done.remove_prefix(5);
	for (int i = 0; i < story::nsteps; i++) {
		std::string_view d = field(done, ',');
		g.taken[i] = !d.empty() && d.back() == '~';
		if (g.taken[i])
			d.remove_suffix(1);
		if (d.empty())
			g.done[i] = -1;
		else if (!to_number(d, g.done[i]))
			return false;
	}
	std::string_view last = field(state, ' ');
	if (!done.empty() || last.substr(0, 5) != "last=" || last.size() - 5 >= sizeof g.last)
		return false;
	memcpy(g.last, last.data() + 5, last.size() - 5);
	g.last[last.size() - 5] = '\0';
	if (!key_number(state, "runs=", g.runs) || !key_number(state, "hints=", g.hints) ||
	    !key_number(state, "active=", g.active) || !key_number(state, "sessions=", g.sessions) ||
	    !key_number(state, "words=", g.words) || !key_number(state, "outside=", g.outside) ||
	    !key_number(state, "asked=", g.asked) || !key_number(state, "about=", about) ||
	    !key_number(state, "nudged=", nudged) || !key_number(state, "left=", left) || !key_number(state, "games=", g.games) || !state.empty())
		return false;
	g.dir.clear();
	g.dir.add(dir);
	g.began = began;
	g.time = t;
	g.left = left;
	g.about = about - 1;
	g.nudged = nudged;
	return true;
}

namespace {

// Calls fn on each line of fd, the last first, until it says stop.
template <class F> bool scan_back(int fd, F fn)
{
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		return false;
	off_t pos = st.st_size;
	Buf left;	// the start of a line whose end was read before
	while (pos > 0) {
		size_t k = pos < 65536 ? pos : 65536;
		pos -= k;
		Buf chunk;
		chunk.reserve(k + left.n);
		if (pread(fd, chunk.p, k, pos) != static_cast<ssize_t>(k))
			return false;
		chunk.n = k;
		chunk.add(left.view());
		std::string_view all = chunk.view();
		size_t end = all.size();
		for (size_t nl; (nl = all.substr(0, end).rfind('\n')) != all.npos; end = nl)
			if (fn(all.substr(nl + 1, end - nl - 1)))
				return true;
		left.clear();
		if (end <= line_bound)
			left.add(all.substr(0, end));
		if (pos == 0)
			fn(left.view());
	}
	return true;
}

// The lines of this session that wait to be written are newer than any
// in the file.
template <class F> void scan_record(const Record &r, F fn)
{
	bool stop = false;
	scan_back(r.pending, [&](std::string_view l) { return stop = fn(l); });
	if (!stop)
		scan_back(r.fd, fn);
}

// The latest line of each game, the most recently played first, to fn
// until it says stop; lines that are not the record's are counted.  A
// game's latest line says where it is now: an older one is of a game that
// has moved on.
template <class Scan, class F> void latest_games(Scan scan, Game &g, long &skipped, F fn)
{
	Buf seen;
	long games = -1;
	std::string_view event, detail;
	scan([&](std::string_view l) {
		if (!parse_line(l, g, event, detail) || g.number > (1 << 20)) {
			skipped += !l.empty() && l[0] != '#';
			return false;
		}
		if (games < 0)
			games = g.games;
		while (seen.n <= static_cast<size_t>(g.number))
			seen.add('\0');
		if (seen.p[g.number])
			return false;
		seen.p[g.number] = 1;
		return fn(g) || --games <= 0;
	});
}

}  // namespace

bool find_game(const Record &r, long number, Game &g)
{
	bool found = false;
	std::string_view event, detail;
	scan_record(r, [&](std::string_view l) { return found = parse_line(l, g, event, detail) && g.number == number; });
	return found;
}

bool last_state(const Record &r, Game &g)
{
	bool found = false;
	std::string_view event, detail;
	scan_record(r, [&](std::string_view l) { return found = parse_line(l, g, event, detail); });
	return found;
}

bool find_dir(const Record &r, std::string_view dir, Game &g)
{
	bool found = false;
	long skipped = 0;
	latest_games([&](auto fn) { scan_record(r, fn); }, g, skipped,
	             [&](const Game &x) { return found = x.dir.view() == dir; });
	return found;
}

bool lock(int fd)
{
	for (int i = 0; i < 300; i++) {
		if (flock(fd, LOCK_EX | LOCK_NB) == 0)
			return true;
		if (errno != EWOULDBLOCK && errno != EINTR)
			return false;
		struct timespec ten_ms = {0, 10000000};
		nanosleep(&ten_ms, nullptr);
	}
	return false;
}

void unlock(int fd) { flock(fd, LOCK_UN); }

namespace {

// Whether fd may grow by len bytes: within the record's bounds and the
// size limit the player's shell may have set.
bool room(int fd, size_t len, bool progress)
{
	struct stat st;
	struct rlimit fsize;
	if (fstat(fd, &st) != 0)
		return false;
	if (st.st_size + static_cast<off_t>(len) > (progress ? progress_bound : record_bound)) {
		errno = EFBIG;
		return false;
	}
	if (getrlimit(RLIMIT_FSIZE, &fsize) == 0 && fsize.rlim_cur != RLIM_INFINITY &&
	    static_cast<rlim_t>(st.st_size) + len > fsize.rlim_cur) {
		errno = EFBIG;
		return false;
	}
	return true;
}

// A last line cut short would swallow the next one.
bool end_line(int fd)
{
	struct stat st;
	char c = '\n';
	if (fstat(fd, &st) != 0)
		return false;
	if (st.st_size == 0 || (pread(fd, &c, 1, st.st_size - 1) == 1 && c == '\n'))
		return true;
	return write_all(fd, "\n");
}

bool write_pending(Record &r)
{
	struct stat st;
	if (r.pending < 0 || fstat(r.pending, &st) != 0 || st.st_size == 0)
		return true;
	Buf lines;
	for (off_t at = 0; at < st.st_size;) {
		char b[4096];
		ssize_t n = pread(r.pending, b, sizeof b, at);
		if (n <= 0)
			return false;
		lines.add(std::string_view(b, n));
		at += n;
	}
	if (!room(r.fd, lines.n, true) || !end_line(r.fd) || !write_all(r.fd, lines.view()))
		return false;
	return ftruncate(r.pending, 0) == 0;
}

}  // namespace

// The record's lock: the file's, or the session's when the file cannot
// be written.
static int lock_fd(const Record &r) { return r.fd >= 0 && r.writable ? r.fd : r.pending; }

// Appends the line with the lock held; a line of progress (a game begun,
// taken over or set aside, a step done) has room beyond the bound.
static bool append_held(Record &r, std::string_view line, bool progress)
{
	int why = 0;
	if (r.fd >= 0 && r.writable) {
		bool ok = (r.pending < 0 || r.pending == lock_fd(r) || lock(r.pending)) && write_pending(r) &&
		          room(r.fd, line.size(), progress) && end_line(r.fd) && write_all(r.fd, line);
		why = errno;
		if (r.pending >= 0)
			unlock(r.pending);
		if (ok)
			return true;
	}
	// What the record cannot take is kept for this session, and written
	// when it can; the class record takes nothing that the player could
	// have written.
	if (r.pending < 0 || r.witnessed || (r.pending != lock_fd(r) && !lock(r.pending)))
		return false;
	// Whether the session was told is kept in the mode of its file, which
	// has the owner's execute bit until it is.
	struct stat st;
	bool first = fstat(r.pending, &st) == 0 && (st.st_mode & S_IXUSR) && fchmod(r.pending, 0600) == 0;
	bool kept = end_line(r.pending) && write_all(r.pending, line);
	if (r.pending != lock_fd(r))
		unlock(r.pending);
	if (first && kept && r.path.n) {
		Buf b;
		b.add("pacifica: cannot write to ");
		shown(b, r.path.view());
		if (why && r.fd >= 0)
			b.add(" (").add(strerror(why)).add(')');
		b.add("; this game is remembered only until you leave\n");
		say(b.view());
	}
	return kept;
}

bool append(Record &r, std::string_view line)
{
	int fd = lock_fd(r);
	if (fd < 0 || !lock(fd))
		return false;
	bool ok = append_held(r, line, true);
	unlock(fd);
	return ok;
}

bool record_event(Record &r, long number, std::string_view event, std::string_view detail, Game &g,
                  std::string_view line_detail, void (*adjust)(Game &))
{
	int fd = lock_fd(r);
	if (fd < 0 || !lock(fd))
		return false;
	bool ok = false;
	time_t t = time(nullptr);
	Game last;
	long games = last_state(r, last) ? last.games : 0;
	if (number > 0 ? find_game(r, number, g) : true) {
		int before = number > 0 ? g.ndone() : -1;
		if (number <= 0) {
			g.games = games + 1;
			new_game(g, games + 1, detail, t);
		} else {
			apply(g, t, event, detail);
			if (g.games < games)
				g.games = games;
		}
		if (adjust)
			adjust(g);
		Buf line;
		format_line(line, t, g, event, number <= 0 ? "-" : line_detail.empty() ? detail : line_detail);
		ok = append_held(r, line.view(), before < 0 || event == "aside" || g.ndone() > before);
	}
	unlock(fd);
	return ok;
}

bool each_game(int fd, void (*fn)(const Game &, void *), void *ctx, long &skipped)
{
	Game g;
	bool whole = true;
	latest_games([&](auto f) { whole = scan_back(fd, f); }, g, skipped, [&](const Game &x) {
		fn(x, ctx);
		return false;
	});
	return whole;
}
