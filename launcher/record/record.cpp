// The record of play: the reading of a record from its end, so that what
// a start or a run costs does not grow with the record, and appending to
// it under its lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "record/record.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

// Past this a record takes only the lines that are progress; past the
// second bound, nothing.  A game played through takes a few kilobytes.
constexpr off_t record_bound = 4 << 20, progress_bound = record_bound + (256 << 10);

}  // namespace

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
