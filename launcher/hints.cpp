// Hints: which situation the player is in, told from the step they are
// on, the last answer of that step's program and what stands in the
// playing directory; and the hint for it, more specific on each ask.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "engine.hpp"

namespace {

constexpr std::string_view no_more =
    "There is nothing more to tell about this; 'steps' shows where you are, and 'man pacifica' tells the rest.";
constexpr std::string_view hints_off = "Hints are off in this game.\n";

const char *base;	// the playing directory, unescaped

bool exists(const char *rel, bool follow = true)
{
	struct stat st;
	return fstatat(AT_FDCWD, Buf().add(base).add('/').add(rel).p, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

bool is_dir(const char *rel)
{
	struct stat st;
	return stat(Buf().add(base).add('/').add(rel).p, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_link(const char *rel)
{
	struct stat st;
	return lstat(Buf().add(base).add('/').add(rel).p, &st) == 0 && S_ISLNK(st.st_mode);
}

bool readable(const char *rel) { return access(Buf().add(base).add('/').add(rel).p, R_OK) == 0; }

// The first line of a regular file, without its newline; false if none.
bool first_line(const char *rel, Buf &to)
{
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

int row(std::string_view name)
{
	for (int i = 0; i < story::nhints; i++)
		if (story::hints[i].situation == name)
			return i;
	abort();	// every situation below has a row in the table
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
		if (last == "raze:victory")
			return "raze-premature";
		if (!exists(story::alert.data()))
			return "alert-gone";
		return last == "bridge:word" ? "bridge-word" : "step-bridge";
	}
	if (step == "raze")
		return is_dir(Buf().add(story::stronghold).add('/').p) ? "step-raze" : "ready";
	if (step == "celebrate") {
		if (exists("jail") && !is_dir("jail"))
			return "celebrate-jail-file";
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
		if (key == "wrong" || is_dir("jail/.grob"))
			return "celebrate-wrong";
		return key == "failed" ? "celebrate-failed" : "ready";
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

// text with $program and $game put in.
void fill(Buf &to, std::string_view text, std::string_view program, std::string_view game)
{
	for (size_t at; (at = text.find('$')) != text.npos;) {
		to.add(text.substr(0, at));
		text.remove_prefix(at);
		if (text.substr(0, 8) == "$program") {
			to.add(program);
			text.remove_prefix(8);
		} else if (text.substr(0, 5) == "$game") {
			to.add(game);
			text.remove_prefix(5);
		} else {
			to.add('$');
			text.remove_prefix(1);
		}
	}
	to.add(text);
}

}  // namespace

int situation(const Game &g, bool here, int &ready)
{
	ready = g.on();
	if (!here)
		return row("outside");
	Buf dir;
	unescape(dir, g.dir.view());
	base = dir.p;
	std::string_view last = g.last, key;
	size_t colon = last.find(':');
	if (ready < story::nsteps && colon != last.npos && last.substr(0, colon) == story::steps[ready].name)
		key = last.substr(colon + 1);
	int r = row(which(g, ready, key));
	base = nullptr;
	return r;
}

// The hint for the situation the player is in: first the idea, then the
// command lines, then that there is no more.  The count starts again
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
	int r = situation(g, here(g), ready);
	long level = g.about == r ? g.asked + 1 : 1;
	record_event(record, g.number, "hint", Buf().num(r).view(), g);
	const story::Hint &h = story::hints[r];
	std::string_view program = ready < story::nsteps ? story::steps[ready].name : "";
	Buf dir, plain, quoted_dir, b;
	unescape(dir, g.dir.view());
	plain.add(dir.view());
	quoted(quoted_dir, dir.view());
	if (level == 1) {
		Buf text;
		fill(text, h.idea, program, plain.view());
		wrap(b, 79, text.view());
		b.add('\n');
	} else if (level == 2) {
		for (std::string_view lines = h.lines; !lines.empty();) {
			size_t nl = lines.find('\n');
			b.add("$ ");
			fill(b, lines.substr(0, nl), program, quoted_dir.view());
			b.add('\n');
			lines = nl == lines.npos ? std::string_view() : lines.substr(nl + 1);
		}
	} else {
		wrap(b, 79, no_more);
		b.add('\n');
	}
	out(b.view());
	return 0;
}

// help: the game's own commands; help NAME is bash's.
int cmd_help(int argc, char **argv)
{
	if (argc > 1) {
		char **args = static_cast<char **>(calloc(argc + 4, sizeof *args));
		static char bash[] = "bash", c[] = "-c", script[] = "help \"$@\"", name[] = "help";
		args[0] = bash, args[1] = c, args[2] = script, args[3] = name;
		for (int i = 1; i < argc; i++)
			args[i + 3] = argv[i];
		execv("/bin/bash", args);
		die("cannot run bash for its help", 127);
	}
	out("The game's own commands:\n"
	    "  steps                            the steps of the story, and where you are\n"
	    "  hint                             a hint for where you are; again for more\n"
	    "  help                             this list; help NAME gives bash's help\n"
	    "  confirm_shellwatch_message WORD  confirms the alert, as it asks\n"
	    "  exit                             leaves the game; pacifica comes back to it\n"
	    "The programs prologue, resettle, duplicate, raze, celebrate and retribute\n"
	    "each judge the directory they run in.\n");
	return 0;
}
