// The recorder's parts: the record of play and the state it carries, and
// the small helpers they share.  Everything here runs with the player's
// own IDs: recorder.cpp gives up its privilege before any of it runs.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string_view>

#include "story.hpp"

// A growable byte string, for lines and texts put together at run time.
struct Buf {
	char *p = nullptr;
	size_t n = 0, cap = 0;
	Buf() = default;
	Buf(const Buf &) = delete;
	Buf &operator=(const Buf &) = delete;
	~Buf();
	Buf &add(std::string_view s);
	Buf &add(char c) { return add(std::string_view(&c, 1)); }
	Buf &num(long v);
	void reserve(size_t want);
	void clear() { n = 0; }
	std::string_view view() const { return {p ? p : "", n}; }
};

// How the pacifica command is used, for a line that says it was not.
constexpr std::string_view usage_text =
    "usage: pacifica [--no-hints] [DIR]\n"
    "       pacifica --new [--yes] [--no-hints] [DIR]\n"
    "       pacifica --report [--csv [--per-student]] [--class GROUP]\n"
    "                         [--roster FILE] [PLACE... | --merge CSV...]\n"
    "       pacifica --walkthrough | --help | --version\n";

// Output.  The game's own lines go to the descriptor that the game shell
// names in PACIFICA_SAY, standard error otherwise.
bool write_all(int fd, std::string_view s);
void out(std::string_view s);
void err(std::string_view s);
int say_fd();
void say(std::string_view s);
// A line of the game's own, broken at blanks to fit 79 columns, or the
// terminal on fd when it is narrower; the width for it.
void tell(std::string_view s);
size_t text_width(int fd);
// A program's standard output, its long lines broken at blanks when it
// goes to a terminal.
void show(int fd, std::string_view s);
// "pacifica: " what, on standard error.
void warn(std::string_view what);
[[noreturn]] void die(std::string_view what, int status = 1);

// text with every line longer than width broken at blanks, never inside
// a word.
void wrap(Buf &to, size_t width, std::string_view text);
// A name as a player may read it: as it is, or in bash's $'...' form when
// it is not printable: not UTF-8, or holding a control character or a
// mark that turns text right to left.
bool printable(std::string_view s);
void shown(Buf &to, std::string_view s);
// A word as bash's printf %q gives it, to be typed back.
void quoted(Buf &to, std::string_view s);
// A name as the record holds it: backslashes and control characters
// escaped, so that a line is a line and a field a field; and back.
void escape(Buf &to, std::string_view s);
bool unescape(Buf &to, std::string_view s);

bool to_number(std::string_view s, long &v);
// The value of a setting of the machine's, from the game's configuration
// file; false when it does not say, or, for a privileged setting, when
// someone but root could have written it.
bool setting(std::string_view name, Buf &value, bool privileged = false);
void stamp(Buf &to, time_t t);
bool parse_stamp(std::string_view s, time_t &t);

// The state of one game, as every line of the record carries it after
// the line's event.
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

// The record: one line per event, only ever appended to, each line
// carrying the state of its game after it.  Lines of this session that
// the file could not take are kept in pending, a file of the session's
// own in memory, and written at the next event that can.
struct Record {
	int fd = -1, pending = -1;
	bool writable = false, witnessed = false;
	Buf path;			// as shown to the player
};

// Whether a story step's index names a step; the step a program judges.
int step_index(std::string_view name);
int step_of_program(std::string_view program);
int answer_of(std::string_view program, int status, std::string_view output);

// One event applied to a game's state, at time t.
void apply(Game &g, time_t t, std::string_view event, std::string_view detail);
void new_game(Game &g, long number, std::string_view dir, time_t t);
// The line for an event whose state is g.
void format_line(Buf &to, time_t t, const Game &g, std::string_view event, std::string_view detail);
// A line of the record parsed, its state in g; false for one that is not.
bool parse_line(std::string_view line, Game &g, std::string_view &event, std::string_view &detail);

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

// The record of the player, opened by recorder.cpp; whether the class
// record was there to open and refused.
extern Record record;
extern bool class_refused;
// Whether the caller closed standard output: what is written to it is lost.
extern bool stdout_closed;
// For the report of a teacher (root, or a member of the group that the
// settings name as teachers): the class record's directory, and the
// recorder's group, taken back only to open a file in it.  class_dir is
// -1 where there is no class record, or the caller is no teacher.
extern int class_dir;
extern gid_t class_gid;
int open_in_class(const char *name);
// Where the recorder's programs and files lie, found from its own place.
extern Buf libexec, share, conf;

// Verbs.
int cmd_play(int argc, char **argv);
int cmd_run(int argc, char **argv);
int cmd_bridge(int argc, char **argv);
int cmd_steps();
int cmd_view(int argc, char **argv);
int cmd_leave();
int cmd_note(int argc, char **argv);
int cmd_report(int argc, char **argv);
int cmd_hint();
int cmd_help(int argc, char **argv);
int cmd_by_hand(char **argv);
// The hint row of a situation; its idea, for program.
int hint_row(std::string_view situation);
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

// The hint row for the situation the player is in, the game g in the
// working directory or not; the step whose program a hint's $program
// names.
int situation(const Game &g, bool here, int &ready, Mistake *m = nullptr);

// Shared by the verbs: the game of the shell and its state, from the
// record; whether the working directory is the game's.
bool the_game(Game &g);
bool here(const Game &g);
bool hints_on();
long game_number();
void back_command(Buf &to, std::string_view dir);
void next_line(const Game &g);
void steps_map(Buf &to, const Game &g);
void duration(Buf &to, long seconds);
// The record of the home, opened into record unless the class record is
// open; false with why said when there is none.  The state directory of
// the home, or -1 with why said.
bool open_record(bool create, Buf &why);
int state_dir(bool create, Buf &why, Buf &path);
// The old journal and lists of a home's state directory, taken over into
// an empty record: their steps, not witnessed by the recorder.
void take_over(Record &r, int statefd);
