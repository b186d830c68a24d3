// Hints: the situation a player is in, and the mistakes the hints find
// in the playing directory.
#pragma once

#include <string_view>

#include "record/game.hpp"

// A hint row's idea, for program.
void hint_idea(Buf &to, int row, std::string_view program);

// A mistake the hints find in the playing directory: the hint row that
// tells it, and the words that fill the row.
struct Mistake {
	int row = -1;
	const story::Want *want = nullptr;
	Buf found, wanted, differs, dir;
	Buf mend;	// "COMMAND # WHAT" a line
};
// The mistake of the step in the playing directory base; false when there
// is none to name.
bool find_mistake(const char *base, int step, Mistake &m);

// What stands where the step wants a directory, or its prop's file, and
// is the other kind, as the mistake m, before any other is told: the prop
// itself under a directory's name is mended where it stands, anything
// else put aside.  The paths put aside, to gone (at most most), when the
// step's own hint, as if they were gone, tells the rest; 0 when m's lines
// are whole; -1 when nothing is in the way.
int find_obstacles(const char *base, int step, Mistake &m, Buf *gone, int most);

// A command typed that the shell did not find, when the player meant one
// of the game's (another case, a typo, a path before it): the line that
// names it.
bool name_meant(std::string_view typed, Buf &line);

// The hint row for the situation the player is in, the game g in the
// working directory or not; the step whose program a hint's $program
// names.
int situation(const Game &g, bool here, int &ready, Mistake *m = nullptr);
