// The record of play: read from its end, and appended to under its lock,
// every decision a line depends on taken again under it.  A generation
// that would grow past its bound gives way to a new one, which begins
// with each game's latest line.  An index beside the record says where
// each game's latest line is, so that finding a game costs the same
// however many others the record holds; it is only ever a hint, checked
// against the record at every use, and the record is read from its end
// whenever it does not hold.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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
// A record's descriptors are its generations' and its index's.
struct Source {
	bool held;
	int fd[3];
	bool with_session;
	bool stat(int g, struct stat &st) const
	{
		if (held)
			return rec_stat(g, st);
		return fd[g] >= 0 && fstat(fd[g], &st) == 0 && S_ISREG(st.st_mode);
	}
	off_t size(int g) const
	{
		struct stat st;
		if (g == 2)
			return with_session && pending >= 0 && fstat(pending, &st) == 0 ? st.st_size : 0;
		return stat(g, st) ? st.st_size : 0;
	}
	bool read(int g, char *to, size_t n, off_t at) const
	{
		if (g == 2)
			return pread(pending, to, n, at) == static_cast<ssize_t>(n);
		if (held)
			return rec_read(g, to, n, at);
		return pread(fd[g], to, n, at) == static_cast<ssize_t>(n);
	}
	off_t index_size() const
	{
		struct stat st;
		if (held)
			return rec_index_size();
		return fd[2] >= 0 && fstat(fd[2], &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
	}
	bool read_index(void *to, size_t n, off_t at) const
	{
		if (held)
			return rec_index_read(static_cast<char *>(to), n, at);
		return fd[2] >= 0 && pread(fd[2], to, n, at) == static_cast<ssize_t>(n);
	}
};

// Calls fn on each line of generation g and its offset, the last first,
// until it says stop; a stretch longer than a line with no end is
// counted in overlong, and whole turns false when the file could not be
// read.  False when fn said stop.
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
			else if (fn(all.substr(nl + 1, end - nl - 1), pos + static_cast<off_t>(nl + 1)))
				return false;
		}
		left.clear();
		if (end <= line_bound) {
			left.add(all.substr(0, end));
		} else if (!dropping) {
			overlong++;
			dropping = true;
		}
		if (pos == 0 && !dropping && fn(left.view(), 0))
			return false;
	}
	return true;
}

// Every line, the session's first, then the current generation's, then
// the previous one's; fn is given the line, its generation and offset.
template <class F> bool scan_record(const Source &src, F fn, long &overlong)
{
	bool whole = true;
	for (int g : {2, 0, 1})
		if (!scan_back(src, g, [&](std::string_view l, off_t at) { return fn(l, g, at); }, overlong, whole))
			break;
	return whole;
}

const Source held_record = {true, {-1, -1, -1}, true};
// The record's own files, without the session's.
const Source held_files = {true, {-1, -1, -1}, false};

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
	    [&](std::string_view l, int, off_t) {
		    if (!parse_line(l, g, event, detail) || g.number > most_games) {
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

// The index, in the machine's byte order: a header that names the generations it was made from (file,
// size and time of change, so that any line added or changed since tells
// it is no longer theirs), a table from a hash of each game's directory
// to its number, open-addressed, and a slot a game number with the
// generation, offset and length of that game's latest line.  It holds for
// the record as the header names it and for nothing else, and every line
// it points to is read and parsed again: whole, of the game asked for, of
// the directory asked for.  That a directory has no game, the table says
// only when the whole of it sums to the header's check.  Only what the
// recorder writes, under the lock, after each line, goes into it;
// anything it cannot vouch for sends the reader back to the record.
constexpr char index_magic[8] = {'p', 'c', 'f', 'i', 'd', 'x', '2', '\n'};
struct Header {
	char magic[8];
	uint64_t ino[2];
	int64_t size[2], mtime[2];
	uint32_t bits;		// the table has 1 << bits entries
	uint32_t entries;	// used, some of them of directories left
	uint32_t games;		// the highest game number with a slot
	uint32_t distinct;	// the games with a slot
	uint32_t bad;		// lines that are not the record's
	uint32_t top;		// the games that the latest line counts
	uint64_t check;		// the sum of entry_check over the table
};
struct Entry {
	uint32_t hash, number;
};
struct Slot {
	int64_t at;
	uint32_t len, gen;	// len with the line's end; 0 for no game
};
constexpr unsigned min_bits = 6, max_bits = 22;
// An index that holds for the record as it is, which the record then
// showed wrong, is made anew at the next line; one that could not be
// written is not made again by this process.
bool index_doubted, index_failed;

uint32_t dir_hash(std::string_view dir)
{
	uint32_t h = 2166136261u;
	for (char c : dir)
		h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
	return h;
}

// What an entry adds to the table's check, for its place in the table: an
// entry lost, moved or changed changes the sum.
uint64_t entry_check(uint32_t at, const Entry &e)
{
	if (!e.number)
		return 0;
	uint64_t x = (static_cast<uint64_t>(e.hash) << 32 | e.number) ^ (at + 1) * 0x9e3779b97f4a7c15u;
	x = (x ^ x >> 30) * 0xbf58476d1ce4e5b9u;
	x = (x ^ x >> 27) * 0x94d049bb133111ebu;
	return x ^ x >> 31;
}

off_t slot_at(const Header &h, long number)
{
	return static_cast<off_t>(sizeof h + (sizeof(Entry) << h.bits) + (number - 1) * sizeof(Slot));
}

int64_t changed(const struct stat &st) { return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec; }

// The header of the index, when it is of the record's generations as they
// are now, whole.
bool keyed(const Source &src, Header &h)
{
	off_t size = src.index_size();
	// Each game's line takes more than line_least bytes of the record.
	constexpr int64_t line_least = 64;
	if (size < static_cast<off_t>(sizeof h) || !src.read_index(&h, sizeof h, 0) ||
	    memcmp(h.magic, index_magic, sizeof h.magic) != 0 || h.bits < min_bits || h.bits > max_bits ||
	    h.games > most_games || h.distinct > h.games || size < slot_at(h, h.games + 1) ||
	    h.distinct * line_least > h.size[0] + h.size[1])
		return false;
	for (int g = 0; g < 2; g++) {
		struct stat st;
		if (src.stat(g, st) ? h.ino[g] != st.st_ino || h.size[g] != st.st_size || h.mtime[g] != changed(st)
		                    : h.ino[g] || h.size[g] || h.mtime[g])
			return false;
	}
	return true;
}

// The game's latest line, as the index gives it: one whole line of the
// record, within the size the header names, of that game; at its position
// in the record, for which of two lines is the later.  That no line of the
// game follows it, the header vouches: any line since would have changed
// the record's size and time.
bool indexed(const Source &src, const Header &h, long number, Game &g, int64_t *when = nullptr)
{
	Slot s;
	if (number < 1 || number > h.games || !src.read_index(&s, sizeof s, slot_at(h, number)) || s.gen > 1 ||
	    s.len < 2 || s.len > line_bound || s.at < 0 || s.at > h.size[s.gen] - s.len)
		return false;
	Buf b;
	off_t from = s.at > 0 ? s.at - 1 : 0;
	size_t n = s.len + (s.at > 0);
	b.reserve(n);
	if (!src.read(s.gen, b.p, n, from))
		return false;
	b.n = n;
	std::string_view l = b.view(), event, detail;
	if ((s.at > 0 && l[0] != '\n') || l.back() != '\n')
		return false;
	l = l.substr(s.at > 0, s.len - 1);
	if (when)
		*when = s.gen ? s.at : s.at + h.size[1] + 1;
	return parse_line(l, g, event, detail) && g.number == number;
}

// Whether the table is whole: every entry as the header's check sums it.
bool table_whole(const Source &src, const Header &h)
{
	size_t n = size_t{1} << h.bits;
	auto *table = static_cast<Entry *>(malloc(n * sizeof(Entry)));
	if (!table)
		return false;
	bool whole = src.read_index(table, n * sizeof(Entry), sizeof h);
	uint64_t sum = 0;
	for (uint32_t i = 0; whole && i < n; i++)
		sum += entry_check(i, table[i]);
	free(table);
	return whole && sum == h.check;
}

// The game whose latest line is in dir, the most recently played of them:
// Dir::found; Dir::none when the index vouches that no game's is;
// Dir::unknown when only the record can tell.
enum class Dir { found, none, unknown };
Dir indexed_dir(const Source &src, std::string_view dir, Game &g)
{
	Header h;
	if (!keyed(src, h) || h.distinct > h.top)
		return Dir::unknown;
	uint32_t hash = dir_hash(dir), mask = (1u << h.bits) - 1;
	int64_t best = -1;
	long number = 0, read = 0;
	for (uint32_t i = hash & mask, probes = 0; probes <= mask; i = (i + 1) & mask, probes++) {
		Entry e;
		int64_t when;
		if (!src.read_index(&e, sizeof e, sizeof h + i * sizeof e))
			return Dir::unknown;
		if (!e.number)
			break;
		if (e.hash != hash)
			continue;
		// A game that has left the directory since keeps its entry.
		if (!indexed(src, h, read = e.number, g, &when))
			return Dir::unknown;
		if (g.dir.view() == dir && when > best)
			best = when, number = e.number;
	}
	if (!number)
		return table_whole(src, h) ? Dir::none : Dir::unknown;
	return number == read || indexed(src, h, number, g) ? Dir::found : Dir::unknown;
}

// The latest state of every game, the most recently played first, as the
// index gives them; false, with nothing given to fn, when it cannot
// vouch for all of them, or the record holds lines that are not its own,
// which only reading it counts.
template <class F> bool indexed_games(const Source &src, F fn)
{
	Header h;
	if (!keyed(src, h) || h.distinct > h.top || h.bad)
		return false;
	struct Latest {
		int64_t when;
		long number;
	};
	auto *slots = static_cast<Slot *>(malloc(h.games * sizeof(Slot) + 1));
	auto *order = static_cast<Latest *>(malloc(h.distinct * sizeof(Latest) + 1));
	auto *games = static_cast<Game *>(malloc(h.distinct * sizeof(Game) + 1));
	if (!slots || !order || !games)
		die("out of memory");
	long n = 0, made = 0;
	bool ok = src.read_index(slots, h.games * sizeof(Slot), slot_at(h, 1));
	for (long i = 0; ok && i < static_cast<long>(h.games); i++)
		if (slots[i].len && !(ok = n < static_cast<long>(h.distinct)))
			break;
		else if (slots[i].len)
			order[n++] = {slots[i].gen ? slots[i].at : slots[i].at + h.size[1] + 1, i + 1};
	qsort(order, n, sizeof *order, [](const void *a, const void *b) {
		int64_t x = static_cast<const Latest *>(a)->when, y = static_cast<const Latest *>(b)->when;
		return x > y ? -1 : x < y;
	});
	ok = ok && n == static_cast<long>(h.distinct);
	for (; ok && made < n; made++) {
		new (&games[made]) Game;
		ok = indexed(src, h, order[made].number, games[made]);
	}
	for (long i = 0; i < made; i++) {
		if (ok)
			fn(games[i]);
		games[i].~Game();
	}
	free(slots), free(order), free(games);
	return ok;
}

// The index made anew from the record's generations, read whole; under
// the lock.  Left empty when they cannot be read, or it written.
void build_index()
{
	// Cut back first: a reader that comes in between finds no index, and
	// reads the record.
	if (index_failed || !rec_index_cut()) {
		index_failed = true;
		return;
	}
	Header h = {};
	memcpy(h.magic, index_magic, sizeof h.magic);
	Slot *slots = nullptr;
	uint32_t *hashes = nullptr;
	long cap = 0, overlong = 0;
	bool top = false;
	Game g;
	std::string_view event, detail;
	bool whole = scan_record(
	    held_files,
	    [&](std::string_view l, int gen, off_t at) {
		    if (!parse_line(l, g, event, detail) || g.number > most_games) {
			    h.bad += !l.empty() && l[0] != '#';
			    return false;
		    }
		    if (!top)
			    h.top = g.games, top = true;
		    if (g.number > cap) {
			    long want = cap ? cap : 64;
			    while (want < g.number)
				    want *= 2;
			    auto *s = static_cast<Slot *>(realloc(static_cast<void *>(slots), want * sizeof(Slot)));
			    auto *k = static_cast<uint32_t *>(realloc(hashes, want * sizeof(uint32_t)));
			    if (!s || !k)
				    die("out of memory");
			    memset(static_cast<void *>(s + cap), 0, (want - cap) * sizeof *s);
			    slots = s, hashes = k, cap = want;
		    }
		    Slot &s = slots[g.number - 1];
		    if (!s.len) {
			    s = {at, static_cast<uint32_t>(l.size() + 1), static_cast<uint32_t>(gen)};
			    hashes[g.number - 1] = dir_hash(g.dir.view());
			    h.distinct++;
			    if (g.number > static_cast<long>(h.games))
				    h.games = g.number;
		    }
		    return false;
	    },
	    overlong);
	h.bad += overlong;
	for (h.bits = min_bits; (1u << h.bits) < 4 * h.distinct && h.bits < max_bits; h.bits++)
		;
	for (int gen = 0; gen < 2; gen++) {
		struct stat st;
		if (rec_stat(gen, st))
			h.ino[gen] = st.st_ino, h.size[gen] = st.st_size, h.mtime[gen] = changed(st);
	}
	Buf file;
	size_t size = slot_at(h, h.games + 1);
	file.reserve(size);
	memset(file.p, 0, size);
	file.n = size;
	auto *table = reinterpret_cast<Entry *>(file.p + sizeof h);
	uint32_t mask = (1u << h.bits) - 1;
	for (long i = 0; i < static_cast<long>(h.games); i++) {
		if (!slots[i].len)
			continue;
		memcpy(file.p + slot_at(h, i + 1), &slots[i], sizeof *slots);
		uint32_t at = hashes[i] & mask;
		while (table[at].number)
			at = (at + 1) & mask;
		table[at] = {hashes[i], static_cast<uint32_t>(i + 1)};
		h.check += entry_check(at, table[at]);
		h.entries++;
	}
	memcpy(file.p, &h, sizeof h);
	free(slots), free(hashes);
	if (whole && !rec_index_write(file.view(), 0))
		index_failed = true, rec_index_cut();
}

// The line just appended to the current generation, of which the index
// was the index before, added to it: its game's slot, its directory's
// entry, then the header, last, since until it names the record's new
// size no reader takes the rest.  False when it is to be made anew.
bool index_line(Header &h, std::string_view line)
{
	Game g;
	std::string_view event, detail;
	struct stat st;
	if (!rec_stat(0, st) || st.st_size < static_cast<off_t>(line.size()))
		return false;
	bool ours = parse_line(line.substr(0, line.size() - 1), g, event, detail) && g.number <= most_games;
	if (ours) {
		Slot s = {st.st_size - static_cast<off_t>(line.size()), static_cast<uint32_t>(line.size()), 0}, was = {};
		if (g.number <= static_cast<long>(h.games) && !held_files.read_index(&was, sizeof was, slot_at(h, g.number)))
			return false;
		uint32_t hash = dir_hash(g.dir.view()), mask = (1u << h.bits) - 1, i = hash & mask;
		Entry e = {};
		for (uint32_t probes = 0;; i = (i + 1) & mask) {
			if (probes++ > mask || !held_files.read_index(&e, sizeof e, sizeof h + i * sizeof e))
				return false;
			if (!e.number || (e.hash == hash && e.number == g.number))
				break;
		}
		if (!e.number && ++h.entries * 2 > mask + 1)
			return false;
		Entry add = {hash, static_cast<uint32_t>(g.number)};
		if (!rec_index_write({reinterpret_cast<const char *>(&s), sizeof s}, slot_at(h, g.number)) ||
		    (!e.number && !rec_index_write({reinterpret_cast<const char *>(&add), sizeof add}, sizeof h + i * sizeof add)))
			return false;
		if (!e.number)
			h.check += entry_check(i, add);
		h.distinct += !was.len;
		if (g.number > static_cast<long>(h.games))
			h.games = g.number;
		h.top = g.games;
	} else {
		h.bad++;
	}
	h.size[0] = st.st_size, h.mtime[0] = changed(st);
	return rec_index_write({reinterpret_cast<const char *>(&h), sizeof h}, 0);
}

// A line appended to the current generation, and the index kept its own.
int append_line(std::string_view line)
{
	Header h;
	bool was = keyed(held_files, h);
	if (int why = rec_append(line))
		return why;
	if (!was || index_doubted || !index_line(h, line))
		build_index();
	index_doubted = false;
	return 0;
}
// The session's lines are newer than any the index knows.
bool no_session() { return held_record.size(2) == 0; }

}  // namespace

bool record_witnessed() { return class_mode(); }

bool find_game(long number, Game &g)
{
	Header h;
	bool key = no_session() && keyed(held_files, h);
	if (key && indexed(held_files, h, number, g))
		return true;
	bool found = false;
	long overlong = 0;
	std::string_view event, detail;
	scan_record(
	    held_record, [&](std::string_view l, int, off_t) { return found = parse_line(l, g, event, detail) && g.number == number; },
	    overlong);
	index_doubted |= key && found;
	return found;
}

bool last_state(Game &g)
{
	bool found = false;
	long overlong = 0;
	std::string_view event, detail;
	scan_record(held_record, [&](std::string_view l, int, off_t) { return found = parse_line(l, g, event, detail); }, overlong);
	return found;
}

bool find_dir(std::string_view dir, Game &g)
{
	if (Dir d = no_session() ? indexed_dir(held_files, dir, g) : Dir::unknown; d != Dir::unknown)
		return d == Dir::found;
	bool found = false;
	long skipped = 0;
	latest_games(held_record, g, skipped, [&](const Game &x, std::string_view) { return found = x.dir.view() == dir; });
	Header h;
	index_doubted |= found && no_session() && keyed(held_files, h) && h.distinct <= h.top;
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
		if (line.size() > 1 && append_line(line) != 0)
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
	latest_games(held_files, g, skipped, [&](const Game &, std::string_view l) {
		if (total + l.size() + 1 > seed_bound)
			return true;
		room_for(lines, n, cap);
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
	int why = rec_rotate(seed.view());
	if (!why)
		build_index();
	return why;
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
			why = append_line(line);
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

bool append_taken(std::string_view lines)
{
	Locked l;
	// Numbered from 1, the games taken over fit only a record still
	// empty: another start may have begun a game, or taken over, since
	// this one looked.
	if (!l.held || rec_size(0) + rec_size(1) > 0)
		return false;
	bool ok = true;
	for (size_t nl; (nl = lines.find('\n')) != lines.npos; lines.remove_prefix(nl + 1))
		ok &= append_held(lines.substr(0, nl + 1));
	return ok;
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
	if (games >= most_games) {
		say(Buf().add("pacifica: no game can begin: the record holds the most games it can, ").num(most_games).add('\n').view());
		return false;
	}
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
	if (no_session() && indexed_games(held_files, [&](const Game &x) { fn(x, ctx); }))
		return true;
	return latest_games(held_record, g, skipped, [&](const Game &x, std::string_view) {
		fn(x, ctx);
		return false;
	});
}

bool each_game_of(const int (&gen)[3], void (*fn)(const Game &, void *), void *ctx, long &skipped)
{
	const Source src = {false, {gen[0], gen[1], gen[2]}, false};
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
	if (indexed_games(src, [&](const Game &x) { fn(x, ctx); }))
		return true;
	return latest_games(src, g, skipped, [&](const Game &x, std::string_view) {
		fn(x, ctx);
		return false;
	});
}
