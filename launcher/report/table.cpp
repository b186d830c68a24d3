// The report for a teacher's terminal: one line per game, then where the
// class stands, step by step, drawn as bars.
#include <cstdlib>
#include <cstring>
#include <new>

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
	if (n == cap) {
		cap = cap ? cap * 2 : 64;
		Row **q = static_cast<Row **>(realloc(r, cap * sizeof *r));
		if (!q)
			abort();
		r = q;
	}
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

void local_time(Buf &to, time_t t)
{
	char s[32];
	struct tm tm;
	localtime_r(&t, &tm);
	strftime(s, sizeof s, "%m-%d %H:%M", &tm);
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
// as ~, and on which machine when the rows come from more than one.
void game_name(Buf &to, const Row &r, bool hosts)
{
	Buf name;
	std::string_view dir = r.dir.view(), home = r.home.view();
	if (hosts)
		name.add(r.host.view()).add(':');
	if (!home.empty() && dir == home)
		name.add('~');
	else if (!home.empty() && dir.size() > home.size() && dir.substr(0, home.size()) == home &&
	         dir[home.size()] == '/')
		name.add('~').add(dir.substr(home.size()));
	else
		name.add(dir);
	shown(to, name.view());
}

}  // namespace

namespace {

constexpr int ncolumns = 10;
constexpr const char *heading[ncolumns] = {"PLAYER", "GAME", "STEPS", "ON", "WHY", "RUNS", "HINTS", "BEGAN", "FINISHED", "ACTIVE"};
constexpr bool right[ncolumns] = {false, false, true, false, false, true, true, false, false, true};

// The cells of a game's line, as a terminal can show them.
void cells(Buf (&c)[ncolumns], const Row &r, bool hosts)
{
	for (Buf &cell : c)
		cell.clear();
	shown(c[0], r.player.view());
	c[3].add(r.on_name());
	if (!r.begun) {
		c[1].add('-');
		c[2].add("0/").num(story::nsteps);
		return;
	}
	game_name(c[1], r, hosts);
	c[2].num(r.g.ndone()).add('/').num(story::nsteps).add(strcmp(r.witness, "taken") ? "" : "~");
	shown(c[4], r.stuck.n ? r.stuck.view() : "-");
	c[5].num(r.g.runs);
	c[6].num(r.g.hints);
	local_time(c[7], r.g.began);
	if (time_t t = r.finished())
		local_time(c[8], t);
	else
		c[8].add('-');
	active(c[9], r.g.active);
}

}  // namespace

// Each column as wide as its widest cell, so that no name, however long,
// puts the lines out of step.
void table(Buf &b, const Rows &rows)
{
	bool hosts = false;
	for (long i = 1; i < rows.n; i++)
		hosts |= rows.r[i]->host.view() != rows.r[0]->host.view();
	size_t width[ncolumns];
	Buf c[ncolumns];
	for (int k = 0; k < ncolumns; k++)
		width[k] = columns(heading[k]);
	for (long i = 0; i < rows.n; i++) {
		cells(c, *rows.r[i], hosts);
		for (int k = 0; k < ncolumns; k++)
			width[k] = columns(c[k].view()) > width[k] ? columns(c[k].view()) : width[k];
	}
	auto line = [&]() {
		for (int k = 0; k < ncolumns; k++) {
			if (k)
				b.add(' ');
			pad(b, c[k].view(), width[k], right[k]);
		}
		while (b.n && b.p[b.n - 1] == ' ')
			b.n--;
		b.add('\n');
	};
	for (int k = 0; k < ncolumns; k++) {
		c[k].clear();
		c[k].add(heading[k]);
	}
	line();
	long players = 0, games = 0, finished = 0, waiting = 0;
	each_player(rows, [&](long, long, long best) { (rows.r[best]->begun ? players : waiting)++; });
	for (long i = 0; i < rows.n; i++) {
		cells(c, *rows.r[i], hosts);
		line();
		games += rows.r[i]->begun;
		finished += rows.r[i]->finished() != 0;
	}
	b.num(players).add(players == 1 ? " player, " : " players, ").num(games).add(games == 1 ? " game, " : " games, ");
	b.num(finished).add(" finished");
	if (waiting)
		b.add("; ").num(waiting).add(" not begun");
	b.add('.');
	if (rows.skipped)
		b.add("  ").num(rows.skipped).add(rows.skipped == 1 ? " record line could not be read and was skipped."
		                                                   : " record lines could not be read and were skipped.");
	if (rows.unread)
		b.add("  ").num(rows.unread).add(rows.unread == 1 ? " record could not be read." : " records could not be read.");
	b.add('\n');
}

// For each step, the players who have done it (#) and those who are on it
// (+), each player by their furthest game, as bars of one width for the
// whole class: the longest + is where the class is stuck.
void summary(Buf &b, const Rows &rows)
{
	constexpr long width = 50;
	long done[story::nsteps + 1] = {}, on[story::nsteps + 2] = {}, players = 0;
	each_player(rows, [&](long, long, long best) {
		const Row &r = *rows.r[best];
		players++;
		on[r.on() + 1]++;
		for (int s = 0; r.begun && s < story::nsteps; s++)
			done[s] += r.g.done[s] >= 0;
		done[story::nsteps] += r.on() == story::nsteps;
	});
	if (players == 0)
		return;
	auto bar = [&](long count, char c) {
		long len = (count * width + players / 2) / players;
		for (long i = len || !count ? len : 1; i > 0; i--)
			b.add(c);
	};
	auto line = [&](std::string_view name, long d, long o, bool has_done) {
		Buf cell;
		pad(b, name, 10, false);
		if (has_done)
			cell.num(d);
		else
			cell.add('-');
		pad(b, cell.view(), 5, true);
		cell.clear();
		cell.num(o);
		pad(b, o >= 0 ? cell.view() : "", 5, true);
		b.add("  ");
		bar(has_done ? d : 0, '#');
		bar(o >= 0 ? o : 0, '+');
		while (b.n && b.p[b.n - 1] == ' ')
			b.n--;
		b.add('\n');
	};
	b.add("\nSTEP       DONE   ON\n");
	if (on[0])
		line("not begun", 0, on[0], false);
	for (int s = 0; s < story::nsteps; s++)
		line(story::steps[s].name, done[s], on[s + 1], true);
	line("finished", done[story::nsteps], -1, true);
}
