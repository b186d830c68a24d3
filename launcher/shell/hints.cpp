// Hints: which situation the player is in, told from the step they are
// on, the last answer of that step's program and what stands in the
// playing directory; and the hint for it, more specific on each ask.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "record/record.hpp"
#include "shell/hints.hpp"
#include "shell/verbs.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

constexpr std::string_view hints_off = "Hints are off in this game.\n";
// The teacher's report counts the hints of a class record's game: one
// that the record could not take is not given, or a player could have
// every hint uncounted with a file size limit.
constexpr std::string_view not_counted = "the hint is given only once the class record can count it";

const char *base;	// the playing directory, unescaped

// Paths that the hint's first lines put aside: the rest of the hint is
// told as if they were gone.
constexpr int most_gone = 4;
Buf gone[most_gone];
int ngone;

bool is_gone(std::string_view rel)
{
	for (int i = 0; i < ngone; i++) {
		std::string_view g = gone[i].view();
		if (rel.substr(0, g.size()) == g && (rel.size() == g.size() || rel[g.size()] == '/'))
			return true;
	}
	return false;
}

bool exists(const char *rel, bool follow = true)
{
	struct stat st;
	return !is_gone(rel) &&
	       fstatat(AT_FDCWD, Buf().add(base).add('/').add(rel).p, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

bool is_dir(const char *rel)
{
	struct stat st;
	return !is_gone(rel) && stat(Buf().add(base).add('/').add(rel).p, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_link(const char *rel)
{
	struct stat st;
	return !is_gone(rel) && lstat(Buf().add(base).add('/').add(rel).p, &st) == 0 && S_ISLNK(st.st_mode);
}

bool readable(const char *rel, int more = 0)
{
	return !is_gone(rel) && access(Buf().add(base).add('/').add(rel).p, R_OK | more) == 0;
}

// The first line of a regular file, without its newline; false if none.
bool first_line(const char *rel, Buf &to)
{
	if (is_gone(rel))
		return false;
	int fd = open(Buf().add(base).add('/').add(rel).p, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	if (fd < 0)
		return false;
	bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	char b[4096];
	ssize_t n = ok ? read(fd, b, sizeof b) : -1;
	close(fd);
	if (n < 0)
		return false;
	std::string_view s(b, n);
	to.add(s.substr(0, s.find('\n')));
	return true;
}

const char *which(const Game &g, int on, std::string_view key)
{
	if (on == story::nsteps)
		return "finished";
	std::string_view step = story::steps[on].name, last = g.last;
	if (step == "prologue") {
		if (key != "unwritable")
			return "step-prologue";
		return is_dir("Jean") ? "prologue-jean-dir" : "prologue-unwritable";
	}
	if (step == "resettle") {
		Buf line;
		if (exists("Jean") || is_link("Jean"))
			return !is_dir("Pacifica") ? "resettle-nopacifica" : exists("Pacifica/Jean") ? "resettle-copied" : "resettle-notmoved";
		if (!exists("Pacifica/Jean"))
			return "resettle-lost";
		return first_line("Pacifica/Jean", line) && line.view() == story::jean ? "ready" : "resettle-edited";
	}
	if (step == "duplicate") {
		bool one = exists("Pacifica/Jean") || is_link("Pacifica/Jean");
		bool two = exists("Pacifica_Copy/Jean") || is_link("Pacifica_Copy/Jean");
		Buf a, b;
		if (!one && !two)
			return "duplicate-nojean";
		if (!two)
			return "duplicate-nocopy";
		if (!one)
			return "duplicate-noorigin";
		if (is_link("Pacifica_Copy/Jean"))
			return "duplicate-symlink";
		if (is_link("Pacifica/Jean"))
			return "duplicate-symlink-origin";
		if (key == "unwritable")
			return "duplicate-unwritable";
		if (!first_line("Pacifica/Jean", a) || !first_line("Pacifica_Copy/Jean", b) || a.view() != b.view())
			return "duplicate-imperfect";
		return "ready";
	}
	if (step == "bridge") {
		// duplicate writes the alert again only for a true copy of Jean.
		if (!exists(story::alert.data())) {
			const char *copy = which(g, step_index("duplicate"), "");
			return std::string_view(copy) == "ready" ? "alert-gone" : copy;
		}
		if (last == "raze:victory")
			return "raze-premature";
		return last == "bridge:word" ? "bridge-word" : "step-bridge";
	}
	if (step == "raze")
		return is_dir(Buf().add(story::stronghold).add('/').p) ? "step-raze" : "ready";
	if (step == "celebrate") {
		// A Grob file celebrate could not read or write, or a playing
		// directory it could not write in.
		bool shut = access(base, W_OK | X_OK) != 0 || (exists(".grob") && !readable(".grob", W_OK)) ||
		            (exists("jail") && !readable("jail", X_OK)) || (exists("jail/.grob") && !readable("jail/.grob"));
		if (key == "failed" && shut)
			return "celebrate-failed";
		if (exists(".grob")) {
			if (!exists("jail"))
				return "celebrate-nojail";
			if (exists("jail/.grob"))
				return "celebrate-copied";
			return key == "replanted" ? "celebrate-replanted" : "celebrate-loose";
		}
		if (!exists("jail"))
			return "step-celebrate";
		if (!exists("jail/.grob"))
			return "celebrate-nogrob";
		return key == "wrong" ? "celebrate-wrong" : "ready";
	}
	if (step == "retribute") {
		if (is_dir("jail") && readable("jail"))
			return exists("indefinite_detention_center") ? "retribute-copied" : "retribute-jail";
		if (!exists("indefinite_detention_center/.grob"))
			return exists(".grob") ? "retribute-loose" : "retribute-nogrob";
		return key == "wrong" || key == "readerror" ? "retribute-wrong" : "ready";
	}
	return "ready";
}

// The words a hint's text stands for.
struct Words {
	std::string_view program, game;
	const Mistake *m;
};

// text with the words put in.
Buf &fill(Buf &to, std::string_view text, const Words &w)
{
	const Mistake *m = w.m;
	for (size_t at; (at = text.find('$')) != text.npos;) {
		to.add(text.substr(0, at));
		text.remove_prefix(at);
		std::string_view word = text.substr(1);
		size_t len = 0;
		while (len < word.size() && ((word[len] >= 'a' && word[len] <= 'z') || (word[len] >= 'A' && word[len] <= 'Z')))
			len++;
		word = word.substr(0, len);
		text.remove_prefix(1 + len);
		if (word == "program") {
			to.add(w.program);
		} else if (word == "game") {
			to.add(w.game);
		} else if (m && word == "found") {
			to.add(m->found.view());
		} else if (m && word == "wanted") {
			to.add(m->wanted.view());
		} else if (m && word == "differs") {
			to.add(m->differs.view());
		} else if (m && word == "dir") {
			to.add(m->dir.view());
		} else if (m && m->want && word == "prop") {
			to.add(m->want->name);
		} else if (m && m->want && word == "Prop") {
			std::string_view name = m->want->name;
			to.add(name[0] >= 'a' && name[0] <= 'z' ? char(name[0] - 'a' + 'A') : name[0]).add(name.substr(1));
		} else if (m && m->want && word == "place") {
			to.add(m->want->place);
		} else if (m && word == "commands") {
			// The mend's command lines, each on a line of its own.
			if (to.n && to.p[to.n - 1] == ' ')
				to.p[--to.n] = '\0';
			for (std::string_view lines = m->mend.view(); !lines.empty();) {
				std::string_view line = lines.substr(0, lines.find('\n'));
				lines.remove_prefix(line.size() + (line.size() < lines.size()));
				to.add("\n    ").add(line.substr(0, line.find(" # ")));
			}
		} else {
			to.add('$').add(word);
		}
	}
	return to.add(text);
}

}  // namespace

int situation(const Game &g, bool here, int &ready, Mistake *m)
{
	ready = g.on();
	Mistake found;
	if (m == nullptr)
		m = &found;
	Buf dir, quoted_dir;
	unescape(dir, g.dir.view());
	quoted(quoted_dir, dir.view());
	Words w = {ready < story::nsteps ? story::steps[ready].name : "", quoted_dir.view(), nullptr};
	if (!here && ready < story::nsteps) {
		// From elsewhere: to the playing directory, made again if it is
		// gone, then what the hint there says.
		struct stat st;
		bool gone_dir = stat(dir.p, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
		int there = situation(g, true, ready, m);
		Buf rest;
		if (story::hints[there].lines == "$mend")
			rest.add(m->mend.view());
		else
			fill(rest, story::hints[there].lines, w).add('\n');
		m->mend.clear();
		if (gone_dir)
			m->mend.add("mkdir -p ").add(quoted_dir.view()).add(" # makes your playing directory again\n");
		m->mend.add("cd ").add(quoted_dir.view()).add(" # goes to your playing directory\n").add(rest.view());
		return hint_row(gone_dir ? "gone" : "outside");
	}
	base = dir.p;
	std::string_view last = g.last, key;
	size_t colon = last.find(':');
	if (ready < story::nsteps && colon != last.npos && last.substr(0, colon) == story::steps[ready].name)
		key = last.substr(colon + 1);
	// What stands in the way of the step's directories is told first:
	// the rest of what the step's own hint says cannot be done before.
	int r, aside = ready < story::nsteps ? find_obstacles(base, ready, *m, gone, most_gone) : -1;
	if (aside > 0) {
		ngone = aside;
		const story::Hint &rest = story::hints[hint_row(which(g, ready, key))];
		ngone = 0;
		fill(m->mend, rest.lines, w).add('\n');
	}
	if (aside >= 0) {
		r = m->row;
	} else {
		// A name the player made for one the step wants is told before
		// anything else about the step.
		r = hint_row(which(g, ready, key));
		if (r != hint_row("ready") && r != hint_row("finished") && find_mistake(base, ready, *m))
			r = m->row;
	}
	for (Buf &b : gone)
		b.clear();
	base = nullptr;
	return r;
}

namespace {

// A hint's command lines, each "COMMAND # WHAT": a mistake's where the
// row says "$mend".
void each_line(const story::Hint &h, const Mistake &m, void (*fn)(std::string_view, std::string_view, bool, void *),
               void *ctx)
{
	for (std::string_view lines = h.lines; !lines.empty();) {
		std::string_view line = lines.substr(0, lines.find('\n'));
		lines.remove_prefix(line.size() + (line.size() < lines.size()));
		if (line == "$mend") {
			for (std::string_view mend = m.mend.view(); !mend.empty();) {
				std::string_view l = mend.substr(0, mend.find('\n'));
				mend.remove_prefix(l.size() + (l.size() < mend.size()));
				size_t hash = l.find(" # ");
				fn(l.substr(0, hash), l.substr(hash + 3), true, ctx);
			}
			continue;
		}
		size_t hash = line.find(" # ");
		fn(line.substr(0, hash), line.substr(hash + 3), false, ctx);
	}
}

struct Lines {
	Buf &b;
	const Words &w;
	bool explained;
	size_t width;
};

// A command line, indented, to be typed as it stands; explained, after
// what it does.  A mistake's lines hold the player's names, which are
// never filled in.
void add_line(std::string_view command, std::string_view what, bool literal, void *ctx)
{
	Lines &l = *static_cast<Lines *>(ctx);
	if (l.explained) {
		Buf text;
		if (literal)
			text.add(what);
		else
			fill(text, what, l.w);
		if (text.n && text.p[0] >= 'a' && text.p[0] <= 'z')
			text.p[0] = char(text.p[0] - 'a' + 'A');
		wrap(l.b, l.width, text.add(':').view());
		l.b.add('\n');
	}
	l.b.add("    ");
	if (literal)
		l.b.add(command);
	else
		fill(l.b, command, l.w);
	l.b.add('\n');
}

}  // namespace

void hint_idea(Buf &to, int r, std::string_view program)
{
	Words w = {program, "", nullptr};
	fill(to, story::hints[r].idea, w);
}

// The hint for the situation the player is in: first the idea, with the
// commands it needs; then the command lines for the player's directory,
// each on a line of its own, indented, to be typed as it stands; then the
// same lines, each after what it does.  The count starts again
// after each run the record holds, and for each new situation.
int cmd_hint()
{
	if (!hints_on()) {
		out(hints_off);
		return 0;
	}
	Game g;
	if (!the_game(g))
		die("this shell plays no game that the record knows");
	int ready;
	Mistake m;
	int r = situation(g, here(g), ready, &m);
	// How many hints in a row this is, as the record has it under its lock.
	long level = g.about == r ? g.asked + 1 : 1;
	if (record_event(g.number, "hint", Buf().num(r).view(), g))
		level = g.asked;
	else if (record_witnessed())
		die(not_counted);
	const story::Hint &h = story::hints[r];
	std::string_view program = ready < story::nsteps ? story::steps[ready].name : "";
	Buf dir, quoted_dir, b;
	unescape(dir, g.dir.view());
	quoted(quoted_dir, dir.view());
	size_t width = text_width(1);
	if (level == 1) {
		Buf shown_dir;
		shown(shown_dir, dir.view());
		Words w = {program, shown_dir.view(), &m};
		Buf text;
		fill(text, h.idea, w);
		wrap(b, width, text.view());
		b.add('\n');
	} else {
		Words w = {program, quoted_dir.view(), &m};
		Lines l = {b, w, level > 2, width};
		each_line(h, m, add_line, &l);
	}
	out(b.view());
	return 0;
}
