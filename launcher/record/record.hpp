// The record: one line per event, only ever appended to, each line
// carrying the state of its game after it, read back from its end; in
// two generations, the current and the previous, read as one.
#pragma once

#include <string_view>

#include "record/game.hpp"

// The player's record: the class record's, which class_open opened, or
// the home's, opened here (and made when create is set); false with why
// said when there is none.
bool open_record(bool create, Buf &why);
// Whether the record is the class record's: witnessed by the recorder,
// and never helped by a file of the session's.
bool record_witnessed();
// In the home, a file of the session's own in memory keeps the lines the
// record cannot take, for the game shell to hand to the next event; its
// descriptor for the shell.
int session_file();

// The last state of game number, or of the game whose directory is dir
// (escaped); the last line of the record in any.  False when none.
bool find_game(long number, Game &g);
bool find_dir(std::string_view dir, Game &g);
bool last_state(Game &g);

// The record's lock, held for as long as it lives: everything a line
// depends on is looked up again under it.
struct Locked {
	bool held;
	Locked();
	~Locked();
	Locked(const Locked &) = delete;
	Locked &operator=(const Locked &) = delete;
};
// With the lock held: the line of event for the game whose state after
// it is g, appended; false, with one line to the player saying that it
// was not kept, when neither the record nor the session could take it.
bool write_event(const Game &g, std::string_view event, std::string_view detail);
// With the lock held: the event applied to g, the latest state of its
// game, and its line appended; the line shows line_detail in place of
// detail where it is given.
bool apply_and_write(Game &g, std::string_view event, std::string_view detail, std::string_view line_detail = {});
// The lines already made of the games taken over from an earlier
// version, appended under one hold of the lock, and only to a record
// still empty; false when any was not.
bool append_taken(std::string_view lines);
// The event applied to the latest state of game number, under the lock;
// g is the new state.  decide, given the state before and after, may
// change the one after, or say false to write nothing.  The line shows
// line_detail in place of detail where it is given.  False when nothing
// was written.
bool record_event(long number, std::string_view event, std::string_view detail, Game &g,
                  std::string_view line_detail = {}, bool (*decide)(const Game &, Game &) = nullptr);
// A new game begun in the directory dir (escaped), under the lock.
bool begin_game(std::string_view dir, Game &g);

// The latest state of every game of a record, to fn, the most recently
// played first; lines that are not the record's are counted.  The held
// record's, or that of the descriptors of a record's generations and its
// index (-1 for none), read as one.  False when it could not be read, or is no record: too large
// for one, or its end is none of the record's.
bool each_game(void (*fn)(const Game &, void *), void *ctx, long &skipped);
bool each_game_of(const int (&gen)[3], void (*fn)(const Game &, void *), void *ctx, long &skipped);

// The state directory of the home, or -1 with why said.
int state_dir(bool create, Buf &why, Buf &path);
// The old journal and lists of a home's state directory, taken over into
// an empty record: their steps, not witnessed by the recorder.
void take_over(int statefd);
