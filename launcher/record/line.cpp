// The line of the record: STAMP TAB GAME TAB DIR TAB EVENT TAB DETAIL TAB
// STATE TAB "." NL, written and read.
#include <cstring>

#include "record/game.hpp"
#include "util/names.hpp"
#include "util/stamp.hpp"

// The state as words KEY=VALUE in a fixed order.
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

