// The recorder's privilege and the record's descriptors, in one place.
//
// Installed set-group-id games, the recorder opens with that group the
// player's directory in the class record (or, for a teacher's report,
// every record of the class, read-only), then gives the group up for
// good.  The record's descriptors stay in classrec.cpp: the rest of the
// recorder reads the record and appends the lines it built only through
// the functions below, which also keep the record in the home.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string_view>

#include "util/buf.hpp"

// What the recorder is run for: a game's event, a report, the class
// record cleared for a new term (asked first on a terminal, unless yes),
// or none of them (the walkthrough, which keeps a record of its own).
enum class Want { none, play, report, clear };

// Run first, before the arguments or the environment are read: the
// standard descriptors made safe, and the class record opened with the
// recorder's group; then the group given up, all three IDs, checked.
void class_open(Want w, bool yes = false);
void class_drop();

// Whether the player's record is the class record's, or would be but was
// refused; why, in one line that names the fix for a teacher.
bool class_mode();
std::string_view class_refusal();

// The record held, in the class record or handed over from the home's
// state directory (which rec_home then owns): its current generation
// "record" and the previous one "record.1".  Reading needs no lock; a
// line is appended under the lock, and only a line of the record's own
// shape, one whole line, within the record's bound.
void rec_home(int dir, std::string_view path);
bool rec_open(bool create, Buf &why);
bool rec_held();		// a current generation is open
bool rec_writable();
std::string_view rec_path();	// the current generation, as a player reads it
// Whether fd is, or is another descriptor of, a file or directory of the
// record's: compared by the open file, not the number.
bool rec_holds(int fd);
// Generation 0 is the current, 1 the previous; a missing one is empty.
off_t rec_size(int gen);
bool rec_stat(int gen, struct stat &st);	// false for a missing one
bool rec_read(int gen, char *to, size_t n, off_t at);
bool rec_lock();
void rec_unlock();
// 0, or why the line was not appended (the file as it was before).
int rec_append(std::string_view line);
// A new generation that begins with seed, the latest line of each game,
// and the current one kept as the previous; under the lock.
int rec_rotate(std::string_view seed);
// The record's index, beside it: read by anyone, -1 for its size when
// there is none; written and cut back to nothing only under the lock,
// made there when there is none (or in place of one not as the recorder
// left it).  Nothing in it is taken on trust: see record.cpp.
off_t rec_index_size();
bool rec_index_read(char *to, size_t n, off_t at);
bool rec_index_write(std::string_view s, off_t at);
bool rec_index_cut();

// The view: what the prompt of a game shell shows after the latest event,
// in a file "view" beside the record, its time moved on at every write so
// that a shell sees a change by the file's time alone.  The recorder never
// reads it back: the record is the only truth.  rec_view_open gives a
// descriptor to read it by, for the game shell, or -1.
void rec_view(std::string_view view);
int rec_view_open();

// A teacher's report: the records of the class, opened before the group
// was given up.  The i-th player's user ID and the descriptors of its
// generations and its index (-1 where none), or why it could not be
// opened; false past the last.
bool class_player(long i, uid_t &uid, int (&gen)[3], std::string_view &why);
bool class_teacher();
// What clearing the class record did: the players whose records it
// removed, or why it removed none.
long class_cleared(std::string_view &why);
