// The state of one game, as every line of the record carries it after
// the line's event; the one fold that turns an event into the next state;
// and the line that carries it.
#pragma once

#include <cstddef>
#include <ctime>
#include <string_view>

#include "story.hpp"
#include "util/buf.hpp"

struct Game {
	long number = 0;
	Buf dir;			// escaped, as in the record
	time_t began = 0, time = 0;	// the first and the last event
	long done[story::nsteps];	// seconds after began, or -1
	bool taken[story::nsteps];	// done before the recorder saw it
	char last[40] = "-";		// the last answer, PROGRAM:KEY
	long runs = 0, hints = 0;	// since the last step done
	long active = 0, sessions = 0, words = 0, outside = 0;
	long asked = 0, about = -1;	// hints since the last run, on hint row about
	unsigned long nudged = 0;	// the hint rows a nudge has pointed to
	bool left = false;		// the last event was "left"
	long games = 0;			// the games in the record so far
	Game();
	int on() const;			// the first step not done, nsteps when finished
	int ndone() const;
};

// Whether a story step's index names a step; the step a program judges.
int step_index(std::string_view name);
int step_of_program(std::string_view program);
int answer_of(std::string_view program, int status, std::string_view output);
// The hint row of a situation.
int hint_row(std::string_view situation);

// A line is bounded by the names in it, which play.cpp bounds; a
// generation of the record by this many bytes, and the next begins with
// every game's latest line before it would grow past them.
constexpr size_t line_bound = 8192;
// The games of a record, each known by its number, which the report keeps
// a byte for.
constexpr long most_games = 1 << 20;
constexpr long generation_size = 4 << 20, generation_bound = generation_size + line_bound;

// One event applied to a game's state, at time t.
void apply(Game &g, time_t t, std::string_view event, std::string_view detail);
void new_game(Game &g, long number, std::string_view dir, time_t t);
// The line for an event whose state is g.
void format_line(Buf &to, time_t t, const Game &g, std::string_view event, std::string_view detail);
// A line of the record parsed, its state in g; false for one that is not.
bool parse_line(std::string_view line, Game &g, std::string_view &event, std::string_view &detail);
