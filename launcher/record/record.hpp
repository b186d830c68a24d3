// The record: one line per event, only ever appended to, each line
// carrying the state of its game after it, read back from its end.
#pragma once

#include <string_view>

#include "record/game.hpp"

// Lines of this session that the file could not take are kept in
// pending, a file of the session's own in memory, and written at the
// next event that can.
struct Record {
	int fd = -1, pending = -1;
	bool writable = false, witnessed = false;
	Buf path;			// as shown to the player
};

// The last state of game number, or of the game whose directory is dir
// (escaped); the last line of the record in any.  False when none.
bool find_game(const Record &r, long number, Game &g);
bool find_dir(const Record &r, std::string_view dir, Game &g);
bool last_state(const Record &r, Game &g);
// Appends a line of progress, under the record's lock; what the record
// cannot take is kept for the session, with one line on the say
// descriptor the first time; false when neither could take it.
bool append(Record &r, std::string_view line);
// The event applied to the latest state of game number, or a new game
// "begun" in the directory detail when number is 0, and its line
// appended, all under the record's lock; g is the new state.  The line
// shows line_detail in place of detail where it is given.
bool record_event(Record &r, long number, std::string_view event, std::string_view detail, Game &g,
                  std::string_view line_detail = {}, void (*adjust)(Game &) = nullptr);
// The latest state of every game of the record in fd, to fn, the most
// recently played first; lines that are not the record's are counted.
// False when the file could not be read.
bool each_game(int fd, void (*fn)(const Game &, void *), void *ctx, long &skipped);
bool lock(int fd);
void unlock(int fd);

// The record of the player, opened by main.cpp; whether the class record
// was there to open and refused.
extern Record record;
extern bool class_refused;

// The record of the home, opened into record unless the class record is
// open; false with why said when there is none.  The state directory of
// the home, or -1 with why said.
bool open_record(bool create, Buf &why);
int state_dir(bool create, Buf &why, Buf &path);
// The old journal and lists of a home's state directory, taken over into
// an empty record: their steps, not witnessed by the recorder.
void take_over(Record &r, int statefd);
