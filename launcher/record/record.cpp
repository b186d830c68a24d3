// The record of play: read from its end, so that what a start or a run
// costs does not grow with the record, and appended to under its lock,
// every decision a line depends on taken again under it.  A generation
// that would grow past its bound gives way to a new one, which begins
// with each game's latest line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "classrec.hpp"
#include "record/record.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

// The new generation's first lines: the latest of each game, the most
// recently played first, as many as this holds; a game left out stays in
// the previous generation until the next begins.
constexpr size_t seed_bound = 1 << 20;
// The file of the session's own, home mode only.
int pending = -1;

// Where lines are read from: the record held, or a record's generations
// by their descriptors; the session's lines come first, newer than any.
struct Source {
	bool held;
	int fd[2];
	bool with_session;
	off_t size(int g) const
	{
		struct stat st;
		if (g == 2)
			return with_session && pending >= 0 && fstat(pending, &st) == 0 ? st.st_size : 0;
		if (held)
			return rec_size(g);
		return fd[g] >= 0 && fstat(fd[g], &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
	}
	bool read(int g, char *to, size_t n, off_t at) const
	{
		if (g == 2)
			return pread(pending, to, n, at) == static_cast<ssize_t>(n);
		if (held)
			return rec_read(g, to, n, at);
		return pread(fd[g], to, n, at) == static_cast<ssize_t>(n);
	}
};

// Calls fn on each line of generation g, the last first, until it says
// stop; a stretch longer than a line with no end is counted in overlong,
// and whole turns false when the file could not be read.  False when fn
// said stop.
template <class F> bool scan_back(const Source &src, int g, F fn, long &overlong, bool &whole)
{
	off_t pos = src.size(g);
	Buf left;	// the start of a line whose end was read before
	bool dropping = false;
	while (pos > 0) {
		size_t k = pos < 65536 ? pos : 65536;
		pos -= k;
		Buf chunk;
		chunk.reserve(k + left.n);
		if (!src.read(g, chunk.p, k, pos)) {
			whole = false;
			return true;
		}
		chunk.n = k;
		chunk.add(left.view());
		std::string_view all = chunk.view();
		size_t end = all.size();
		for (size_t nl; (nl = all.substr(0, end).rfind('\n')) != all.npos; end = nl) {
			if (dropping)
				dropping = false;
			else if (fn(all.substr(nl + 1, end - nl - 1)))
				return false;
		}
		left.clear();
		if (end <= line_bound) {
			left.add(all.substr(0, end));
		} else if (!dropping) {
			overlong++;
			dropping = true;
		}
		if (pos == 0 && !dropping && fn(left.view()))
			return false;
	}
	return true;
}

// Every line, the session's first, then the current generation's, then
// the previous one's.
template <class F> bool scan_record(const Source &src, F fn, long &overlong)
{
	bool whole = true;
	for (int g : {2, 0, 1})
		if (!scan_back(src, g, fn, overlong, whole))
			break;
	return whole;
}

const Source held_record = {true, {-1, -1}, true};

// The latest line of each game, the most recently played first, to fn
// until it says stop; lines that are not the record's are counted.  A
// game's latest line says where it is now: an older one is of a game that
// has moved on.
template <class F> bool latest_games(const Source &src, Game &g, long &skipped, F fn)
{
	Buf seen;
	long games = -1;
	std::string_view event, detail;
	return scan_record(
	    src,
	    [&](std::string_view l) {
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
		    return fn(g, l) || --games <= 0;
	    },
	    skipped);
}

}  // namespace

bool record_witnessed() { return class_mode(); }

bool find_game(long number, Game &g)
{
	bool found = false;
	long overlong = 0;
	std::string_view event, detail;
	scan_record(held_record, [&](std::string_view l) { return found = parse_line(l, g, event, detail) && g.number == number; },
	            overlong);
	return found;
}

bool last_state(Game &g)
{
	bool found = false;
	long overlong = 0;
	std::string_view event, detail;
	scan_record(held_record, [&](std::string_view l) { return found = parse_line(l, g, event, detail); }, overlong);
	return found;
}

bool find_dir(std::string_view dir, Game &g)
{
	bool found = false;
	long skipped = 0;
	latest_games(held_record, g, skipped, [&](const Game &x, std::string_view) { return found = x.dir.view() == dir; });
	return found;
}

namespace {

int session_lock = -1;	// what Locked took

bool write_session(std::string_view line)
{
	// Whether the session was told is kept in the mode of its file, which
	// has the owner's execute bit until it is.
	struct stat st;
	if (pending < 0 || fstat(pending, &st) != 0)
		return false;
	bool first = st.st_mode & S_IXUSR;
	if (first)
		fchmod(pending, 0600);
	// At the file's end, whatever the offset that the session's processes
	// share: one of them may have cut the file back to nothing.
	Buf b;
	char last = '\n';
	if (st.st_size > 0 && (pread(pending, &last, 1, st.st_size - 1) != 1 || last != '\n'))
		b.add('\n');
	b.add(line);
	if (pwrite(pending, b.p, b.n, st.st_size) != static_cast<ssize_t>(b.n))
		return false;
	if (first && rec_path().size()) {
		Buf b;
		b.add("pacifica: cannot write to ");
		shown(b, rec_path());
		b.add("; this game is remembered only until you leave\n");
		say(b.view());
	}
	return true;
}

// The session's lines, written to the record once it takes them.
bool flush_session()
{
	struct stat st;
	if (pending < 0 || fstat(pending, &st) != 0 || st.st_size == 0)
		return true;
	if (st.st_size > static_cast<off_t>(generation_size))
		return false;
	Buf lines;
	lines.reserve(st.st_size);
	if (pread(pending, lines.p, st.st_size, 0) != st.st_size)
		return false;
	lines.n = st.st_size;
	for (std::string_view all = lines.view(); !all.empty();) {
		size_t nl = all.find('\n');
		std::string_view line = all.substr(0, nl == all.npos ? all.size() : nl + 1);
		all.remove_prefix(line.size());
		if (line.size() > 1 && rec_append(line) != 0)
			return false;
	}
	return ftruncate(pending, 0) == 0;
}

// Before a line would take the current generation past its size, the
// next begins with the latest line of every game, within its bound.
int make_room(size_t len)
{
	if (rec_size(0) + static_cast<off_t>(len) <= generation_size)
		return 0;
	Buf *lines = nullptr;
	long n = 0, cap = 0, skipped = 0;
	size_t total = 0;
	Game g;
	const Source files = {true, {-1, -1}, false};
	latest_games(files, g, skipped, [&](const Game &, std::string_view l) {
		if (total + l.size() + 1 > seed_bound)
			return true;
		if (n == cap) {
			cap = cap ? cap * 2 : 64;
			auto *q = static_cast<Buf *>(realloc(static_cast<void *>(lines), cap * sizeof *lines));
			if (!q)
				die("out of memory");
			lines = q;
		}
		new (&lines[n++]) Buf;
		lines[n - 1].add(l).add('\n');
		total += l.size() + 1;
		return false;
	});
	Buf seed;
	seed.reserve(total);
	for (long i = n - 1; i >= 0; i--) {
		seed.add(lines[i].view());
		lines[i].~Buf();
	}
	free(lines);
	return rec_rotate(seed.view());
}

}  // namespace

Locked::Locked()
{
	held = rec_held() ? rec_lock() : false;
	if (!held && !rec_held() && pending >= 0 && flock(pending, LOCK_EX) == 0)
		held = true, session_lock = pending;
}

Locked::~Locked()
{
	if (!held)
		return;
	if (session_lock >= 0)
		flock(session_lock, LOCK_UN), session_lock = -1;
	else
		rec_unlock();
}

namespace {

bool append_held(std::string_view line)
{
	int why = EBADF;
	if (rec_writable() && (record_witnessed() || flush_session())) {
		why = make_room(line.size());
		if (!why)
			why = rec_append(line);
		if (!why)
			return true;
	}
	// In the home, what the record cannot take is kept for the session,
	// and written when it can; in the class record, nothing the player
	// could have written is taken, so the event is lost, and said so.
	if (!record_witnessed() && write_session(line))
		return true;
	Buf b;
	b.add("pacifica: this was not recorded: ");
	shown(b, rec_path().empty() ? "the record" : rec_path());
	b.add(" could not take it (").add(strerror(why)).add(")");
	if (record_witnessed())
		b.add("; tell your teacher");
	b.add('\n');
	say(b.view());
	return false;
}

}  // namespace

bool write_event(const Game &g, std::string_view event, std::string_view detail)
{
	Buf line;
	format_line(line, g.time, g, event, detail);
	if (!append_held(line.view()))
		return false;
	// What the prompts of the game's shells show now: its number, its
	// step and its directory, one line.
	Buf view, dir;
	int on = g.on();
	unescape(dir, g.dir.view());
	view.num(g.number).add(' ').add(on < story::nsteps ? story::steps[on].name : "finished").add(' ');
	rec_view(view.add(dir.view()).add('\n').view());
	return true;
}

bool append(std::string_view line)
{
	Locked l;
	return l.held && append_held(line);
}

bool apply_and_write(Game &g, std::string_view event, std::string_view detail, std::string_view line_detail)
{
	Game last;
	long games = last_state(last) ? last.games : 0;
	apply(g, time(nullptr), event, detail);
	if (g.games < games)
		g.games = games;
	return write_event(g, event, line_detail.empty() ? detail : line_detail);
}

bool record_event(long number, std::string_view event, std::string_view detail, Game &g, std::string_view line_detail,
                  bool (*decide)(const Game &, Game &))
{
	Locked l;
	Game last, before;
	if (!l.held) {
		Buf b;
		b.add("pacifica: this was not recorded: the record's lock could not be taken (").add(strerror(errno)).add(")\n");
		say(b.view());
		return false;
	}
	if (!find_game(number, g) || !find_game(number, before))
		return false;
	long games = last_state(last) ? last.games : 0;
	apply(g, time(nullptr), event, detail);
	if (g.games < games)
		g.games = games;
	if (decide && !decide(before, g))
		return false;
	return write_event(g, event, line_detail.empty() ? detail : line_detail);
}

bool begin_game(std::string_view dir, Game &g)
{
	Game last;
	long games = last_state(last) ? last.games : 0;
	g.games = games;
	new_game(g, games + 1, dir, time(nullptr));
	return write_event(g, "begun", "-");
}

int session_file()
{
	if (pending < 0 && !record_witnessed())
		pending = memfd_create("pacifica-session", MFD_CLOEXEC);
	return pending;
}

bool open_record(bool create, Buf &why)
{
	if (!record_witnessed() && pending < 0) {
		// The game shell hands over the session's file by its number: a
		// file in memory, of no name, that only this session holds.
		long n;
		const char *session = getenv("PACIFICA_SESSION");
		struct stat st;
		if (session && to_number(session, n) && n > 2 && n < 1024 && fstat(n, &st) == 0 && S_ISREG(st.st_mode) &&
		    st.st_nlink == 0 && !rec_holds(n))
			pending = n;
	}
	if (record_witnessed() || rec_held())
		return rec_open(create, why);
	Buf dir;
	int at = state_dir(create, why, dir);
	rec_home(at, dir.view());
	return at >= 0 && rec_open(create, why);
}

bool each_game(void (*fn)(const Game &, void *), void *ctx, long &skipped)
{
	Game g;
	return latest_games(held_record, g, skipped, [&](const Game &x, std::string_view) {
		fn(x, ctx);
		return false;
	});
}

bool each_game_of(const int (&gen)[2], void (*fn)(const Game &, void *), void *ctx, long &skipped)
{
	const Source src = {false, {gen[0], gen[1]}, false};
	// Any file of the size of a record is read in bounded time: none
	// larger, and none whose last lines are not the record's.
	for (int g = 0; g < 2; g++)
		if (src.size(g) > generation_bound) {
			errno = EFBIG;
			return false;
		}
	if (off_t size = src.size(0)) {
		size_t k = size < 65536 ? size : 65536;
		Buf tail;
		tail.reserve(k);
		if (!src.read(0, tail.p, k, size - k))
			return false;
		tail.n = k;
		Game g;
		std::string_view all = tail.view(), event, detail;
		bool any = false;
		for (size_t end = all.rfind('\n'); !any && end != all.npos && end > 0;) {
			size_t start = all.rfind('\n', end - 1);
			size_t from = start == all.npos ? 0 : start + 1;
			any = parse_line(all.substr(from, end - from), g, event, detail);
			end = start;
		}
		if (!any) {
			errno = EINVAL;
			return false;
		}
	}
	Game g;
	return latest_games(src, g, skipped, [&](const Game &x, std::string_view) {
		fn(x, ctx);
		return false;
	});
}
