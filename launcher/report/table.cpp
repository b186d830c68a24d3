// The report for a teacher's terminal: one line per game, then where the
// class stands, step by step, drawn as bars.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "classrec.hpp"
#include "report/report.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

Rows::~Rows()
{
	for (long i = 0; i < n; i++)
		if (r[i]) {
			r[i]->~Row();
			free(r[i]);
		}
	free(r);
}

Row &Rows::add()
{
	room_for(r, n, cap);
	void *p = calloc(1, sizeof(Row));
	if (!p)
		abort();
	return *(r[n++] = new (p) Row);
}

void Rows::drop(long i)
{
	r[i]->~Row();
	free(r[i]);
	r[i] = nullptr;
}

void Rows::compact()
{
	long k = 0;
	for (long i = 0; i < n; i++)
		if (r[i])
			r[k++] = r[i];
	n = k;
}

time_t Row::finished() const
{
	if (!begun || g.on() < story::nsteps)
		return 0;
	long last = 0;
	for (long d : g.done)
		last = d > last ? d : last;
	return g.began + last;
}

std::string_view Row::on_name() const
{
	int step = on();
	return step < 0 ? "not begun" : step < story::nsteps ? story::steps[step].name : "finished";
}

namespace {

// The form the table takes: which columns it shows, and how much of a
// time.
struct Form {
	bool hosts = false;	// the rows come from more than one machine
	bool game = true;	// GAME: off when every game is the player's ~/pacifica
	bool full = false;	// dates of today too
	bool day_only = false;	// FINISHED without the time of day, but for today
	bool shown[10] = {true, true, true, true, true, true, true, true, true, true};
	struct tm today;
};

void local_time(Buf &to, time_t t, const Form &f, bool day_only)
{
	char s[32];
	struct tm tm;
	localtime_r(&t, &tm);
	bool today = tm.tm_year == f.today.tm_year && tm.tm_yday == f.today.tm_yday;
	strftime(s, sizeof s, today && !f.full ? "%H:%M" : day_only ? "%m-%d" : "%m-%d %H:%M", &tm);
	to.add(s);
}

// The columns a terminal gives s: one a character of UTF-8.
size_t columns(std::string_view s)
{
	size_t n = 0;
	for (unsigned char c : s)
		n += (c & 0xc0) != 0x80;
	return n;
}

void pad(Buf &to, std::string_view s, size_t width, bool right)
{
	for (size_t i = columns(s); right && i < width; i++)
		to.add(' ');
	to.add(s);
	for (size_t i = columns(s); !right && i < width; i++)
		to.add(' ');
}

void active(Buf &to, long s)
{
	if (s < 60)
		to.add("<1m");
	else if (s < 3600)
		to.num(s / 60).add('m');
	else
		to.num(s / 3600).add('h').add(s % 3600 / 60 < 10 ? "0" : "").num(s % 3600 / 60);
}

// The playing directory as the teacher reads it: below the player's home
// as ~.
void game_dir(Buf &to, const Row &r)
{
	std::string_view dir = r.dir.view(), home = r.home.view();
	while (home.size() > 1 && home.back() == '/')
		home.remove_suffix(1);
	if (!home.empty() && dir == home)
		to.add('~');
	else if (!home.empty() && dir.size() > home.size() && dir.substr(0, home.size()) == home &&
	         dir[home.size()] == '/')
		to.add('~').add(dir.substr(home.size()));
	else
		to.add(dir);
}

// The game as the teacher reads it, and on which machine when the rows
// come from more than one.
void game_name(Buf &to, const Row &r, const Form &f)
{
	Buf name;
	if (f.hosts)
		name.add(r.host.view());
	if (f.hosts && f.game)
		name.add(':');
	if (f.game)
		game_dir(name, r);
	shown(to, name.view());
}

bool default_game(const Row &r)
{
	Buf name;
	game_dir(name, r);
	return name.view() == "~/pacifica";
}

constexpr int ncolumns = 10;
enum { PLAYER, GAME, STEPS, ON, WHY, RUNS, HINTS, BEGAN, FINISHED, ACTIVE };
constexpr const char *heading[ncolumns] = {"PLAYER", "GAME", "STEPS", "ON", "WHY", "RUNS", "HINTS", "BEGAN", "FINISHED", "ACTIVE"};
constexpr bool right[ncolumns] = {false, false, true, false, false, true, true, false, false, true};

// The cells of a game's line, as a terminal can show them.
void cells(Buf (&c)[ncolumns], const Row &r, const Form &f)
{
	for (Buf &cell : c)
		cell.clear();
	shown(c[PLAYER], r.player.view());
	c[ON].add(r.on_name());
	if (!r.begun) {
		if (f.hosts && !f.game)
			shown(c[GAME], r.host.view());
		else
			c[GAME].add('-');
		c[STEPS].add("0/").num(story::nsteps);
		return;
	}
	game_name(c[GAME], r, f);
	// Where there is a class record, a game of a home's record is one
	// that its player could have written: none of it was witnessed.
	bool unwitnessed = !strcmp(r.witness, "taken") || (class_mode() && !strcmp(r.witness, "home"));
	c[STEPS].num(r.g.ndone()).add('/').num(story::nsteps).add(unwitnessed ? "~" : "");
	shown(c[WHY], r.stuck.n ? r.stuck.view() : "-");
	c[RUNS].num(r.g.runs);
	c[HINTS].num(r.g.hints);
	local_time(c[BEGAN], r.g.began, f, false);
	if (time_t t = r.finished())
		local_time(c[FINISHED], t, f, f.day_only);
	else
		c[FINISHED].add('-');
	active(c[ACTIVE], r.g.active);
}

}  // namespace

// Each column as wide as its widest cell, so that no name, however long,
// puts the lines out of step; the table as wide as the terminal, leaving
// out first what says nothing, then what says least.
void table(Buf &b, const Rows &rows, size_t most)
{
	Form f;
	time_t now = time(nullptr);
	localtime_r(&now, &f.today);
	f.full = most == 0;
	bool all_default = true;
	for (long i = 0; i < rows.n; i++) {
		f.hosts |= rows.r[i]->host.view() != rows.r[0]->host.view();
		all_default &= !rows.r[i]->begun || default_game(*rows.r[i]);
	}
	f.game = f.full || !all_default;
	f.shown[GAME] = f.game || f.hosts;
	const char *head[ncolumns];
	for (int k = 0; k < ncolumns; k++)
		head[k] = heading[k];
	if (!f.game)
		head[GAME] = "HOST";
	size_t width[ncolumns];
	Buf c[ncolumns];
	auto measure = [&]() {
		size_t total = 0;
		for (int k = 0; k < ncolumns; k++)
			width[k] = columns(head[k]);
		for (long i = 0; i < rows.n; i++) {
			cells(c, *rows.r[i], f);
			for (int k = 0; k < ncolumns; k++)
				width[k] = columns(c[k].view()) > width[k] ? columns(c[k].view()) : width[k];
		}
		for (int k = 0; k < ncolumns; k++)
			total += f.shown[k] ? width[k] + (total > 0) : 0;
		return total;
	};
	// What goes while the lines are too wide, in turn.
	for (int fit = 0; most && measure() > most && fit < 4; fit++) {
		if (fit == 0)
			f.shown[BEGAN] = false;
		else if (fit == 1)
			f.day_only = true;
		else
			f.shown[fit == 2 ? HINTS : RUNS] = false;
	}
	if (!most)
		measure();
	auto line = [&]() {
		bool first = true;
		for (int k = 0; k < ncolumns; k++) {
			if (!f.shown[k])
				continue;
			if (!first)
				b.add(' ');
			pad(b, c[k].view(), width[k], right[k]);
			first = false;
		}
		while (b.n && b.p[b.n - 1] == ' ')
			b.n--;
		b.add('\n');
	};
	for (int k = 0; k < ncolumns; k++) {
		c[k].clear();
		c[k].add(head[k]);
	}
	line();
	long players = 0, games = 0, finished = 0, waiting = 0;
	each_player(rows, [&](long, long, long best, long) { (rows.r[best]->begun ? players : waiting)++; });
	for (long i = 0; i < rows.n; i++) {
		cells(c, *rows.r[i], f);
		line();
		games += rows.r[i]->begun;
		finished += rows.r[i]->finished() != 0;
	}
	b.num(players).add(players == 1 ? " player, " : " players, ").num(games).add(games == 1 ? " game, " : " games, ");
	b.num(finished).add(" finished");
	if (waiting)
		b.add("; ").num(waiting).add(" not begun");
	b.add(".\n");
	// What the report could not read, each on a line of its own, so that
	// the closing line fits a terminal.
	if (rows.skipped)
		b.num(rows.skipped).add(rows.skipped == 1 ? " record line could not be read and was skipped.\n"
		                                         : " record lines could not be read and were skipped.\n");
	if (rows.bad_rows)
		b.num(rows.bad_rows).add(rows.bad_rows == 1 ? " CSV row did not fit its header and was skipped.\n"
		                                           : " CSV rows did not fit their header and were skipped.\n");
	if (rows.unread)
		b.num(rows.unread).add(rows.merged ? (rows.unread == 1 ? " CSV file could not be read.\n" : " CSV files could not be read.\n")
		                                   : (rows.unread == 1 ? " record could not be read.\n" : " records could not be read.\n"));
}

// For each step, the players who have done it in their furthest game
// (DONE) and those on it in the game they played last (ON), drawn as
// bars of one width for the whole class: # for those who have done it and
// are past it now, + for those on it now; the longest + is where the
// class is stuck.  A student who started over shows where they are now.
void summary(Buf &b, const Rows &rows)
{
	constexpr long width = 50;
	long done[story::nsteps + 1] = {}, past[story::nsteps + 1] = {}, on[story::nsteps + 2] = {}, players = 0;
	each_player(rows, [&](long, long, long best, long now) {
		const Row &r = *rows.r[best];
		int at = rows.r[now]->on();
		players++;
		on[at + 1]++;
		for (int s = 0; r.begun && s < story::nsteps; s++)
			if (r.g.done[s] >= 0) {
				done[s]++;
				past[s] += at != s;
			}
		done[story::nsteps] += r.on() == story::nsteps;
		past[story::nsteps] += r.on() == story::nsteps;
	});
	if (players == 0)
		return;
	// Any count shows, and no bar passes the width.
	auto bars = [&](long hashes, long pluses) {
		auto len = [&](long count) {
			long l = (count * width + players / 2) / players;
			return count && l == 0 ? 1 : l;
		};
		long h = len(hashes), p = len(pluses);
		if (h + p > width)
			(h > p ? h : p) = width - (h > p ? p : h);
		for (long i = 0; i < h + p; i++)
			b.add(i < h ? '#' : '+');
	};
	auto line = [&](std::string_view name, long d, long hashes, long o) {
		Buf cell;
		pad(b, name, 10, false);
		if (d >= 0)
			cell.num(d);
		else
			cell.add('-');
		pad(b, cell.view(), 5, true);
		cell.clear();
		cell.num(o);
		pad(b, o >= 0 ? cell.view() : "", 5, true);
		b.add("  ");
		bars(hashes, o >= 0 ? o : 0);
		while (b.n && b.p[b.n - 1] == ' ')
			b.n--;
		b.add('\n');
	};
	b.add("\nSTEP       DONE   ON\n");
	if (on[0])
		line("not begun", -1, 0, on[0]);
	for (int s = 0; s < story::nsteps; s++)
		line(story::steps[s].name, done[s], past[s], on[s + 1]);
	line("finished", done[story::nsteps], past[story::nsteps], -1);
}
