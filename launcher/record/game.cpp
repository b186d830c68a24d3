// The state of a game and the one fold of an event into it.
#include <cstdlib>
#include <cstring>
#include <new>

#include "record/game.hpp"
#include "util/names.hpp"

namespace {

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
	// The time between leaving a game and coming back to it is no play;
	// any other event after "left" is of a shell that lives on (another
	// of the game's, or one that said it left and did not), whose gap is.
	bool back = g.left && (event == "resumed" || event == "aside");
	if (!back && t >= g.time && t - g.time <= idle_gap)
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

