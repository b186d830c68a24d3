// The report's rows, gathered by report.cpp from records, CSVs of other
// machines and a roster, and laid out by table.cpp and csv.cpp.
#pragma once

#include <sys/types.h>

#include "record/game.hpp"
#include "util/buf.hpp"

struct Row {
	Buf player, home, dir, host;	// dir as it is, not escaped
	Buf stuck;			// why the player is stuck, in a few words
	Buf file;			// the CSV the row was merged from
	long uid = -1;			// whose record it is from, when one of this machine's
	const char *witness = "";	// "class", "home" or "taken"
	bool begun = true;		// false for a student of the roster with no game
	Game g;
	time_t finished() const;	// 0 when not
	int on() const { return begun ? g.on() : -1; }
	std::string_view on_name() const;
};

struct Rows {
	Row **r = nullptr;
	long n = 0, cap = 0;
	long skipped = 0;	// lines that are not the record's
	long unread = 0;	// records or files that could not be read whole
	long bad_rows = 0;	// rows of merged CSVs that do not fit their header
	bool merged = false;	// from CSVs, not records
	Rows() = default;
	Rows(const Rows &) = delete;
	Rows &operator=(const Rows &) = delete;
	~Rows();
	Row &add();
	void drop(long i);	// leaves a hole, filled by compact()
	void compact();
};

// The row of each player's furthest game, and of the game they played
// last, from rows sorted by player: fn(first, end, best, now) for each
// player's rows [first, end).
template <class F> void each_player(const Rows &rows, F fn)
{
	for (long i = 0, end; i < rows.n; i = end) {
		long best = i, now = i;
		for (end = i + 1; end < rows.n && rows.r[end]->player.view() == rows.r[i]->player.view(); end++) {
			const Row &a = *rows.r[end], &b = *rows.r[best], &c = *rows.r[now];
			int da = a.begun ? a.g.ndone() : -1, db = b.begun ? b.g.ndone() : -1;
			if (da > db || (da == db && a.g.time > b.g.time))
				best = end;
			if (a.begun && (!c.begun || a.g.time > c.g.time))
				now = end;
		}
		fn(i, end, best, now);
	}
}

inline int order(std::string_view x, std::string_view y) { return x.compare(y); }

// A user of the password database, which is read once: a report of
// thousands of players would otherwise search it once a player.
struct User {
	uid_t uid;
	gid_t gid;
	char *login, *name, *dir;	// name: the full name
};
const User *user_of(uid_t uid);
const User *user_named(const char *login);
// A login's full name, or the login.
void full_name(Buf &to, std::string_view login);

// The students of a roster: one login a line of a file, or the members of
// a group; false, with why said, when there is none.
struct Roster {
	Buf *login = nullptr;
	long n = 0, cap = 0;
	bool given = false;
	Roster() = default;
	Roster(const Roster &) = delete;
	Roster &operator=(const Roster &) = delete;
	~Roster();
	void add(std::string_view name);
	bool has(std::string_view name) const;	// once sorted
	void sort();				// and each login once
};
bool read_roster(Roster &roster, const char *file);
bool read_group(Roster &roster, const char *name);
// Only the roster's students, each of them: those with no game as not
// begun, on host; false, with each said, when a login of the roster with
// no game is no user of this machine.  Rows are sorted by player.
bool keep_roster(Rows &rows, Roster &roster, std::string_view host);

// The table as wide as width allows (0: as wide as its cells), then where
// the class stands.
void table(Buf &b, const Rows &rows, size_t width);
void summary(Buf &b, const Rows &rows);
// A field that a terminal would not show as it reads (a control
// character, a mark that turns text, bytes that are not UTF-8) is written
// in bash's $'...' form, as the table shows it, so that no CSV carries a
// student's escape sequence to a teacher's terminal.
void csv(Buf &b, const Rows &rows);
// With points, the row of the points possible that Canvas reads.
void per_student(Buf &b, const Rows &rows, bool points);
// The rows of a CSV that the report wrote, on another machine perhaps;
// false, with why said, when file is not one.  A row that does not fit
// its header is said, counted and skipped.
bool read_csv(Rows &rows, const char *file);
// Each game once, however many files gave it; rows sorted by player.
void drop_doubles(Rows &rows);
