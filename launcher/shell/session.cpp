// What the game shell's verbs share: the game of the shell, found in the
// record by the number the shell keeps; the step map, the view the prompt
// shows, a note of a hint, leaving, and the game's own help.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "classrec.hpp"
#include "record/record.hpp"
#include "shell/hints.hpp"
#include "shell/verbs.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

// The game and its state, from the record, for the shell that plays it.
bool the_game(Game &g)
{
	Buf why;
	if (!open_record(false, why) && class_refusal().size())
		warn(class_refusal());
	long number = game_number();
	return number > 0 && find_game(number, g);
}

// Whether the working directory is the game's.
bool here(const Game &g)
{
	Buf dir;
	struct stat a, b;
	return unescape(dir, g.dir.view()) && stat(".", &a) == 0 && stat(dir.p, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

long game_number()
{
	long n;
	const char *e = getenv("PACIFICA_GAME");
	return e && to_number(e, n) ? n : 0;
}

bool hints_on()
{
	const char *e = getenv("PACIFICA_HINTS");
	return !e || std::string_view(e) != "off";
}

void duration(Buf &to, long s)
{
	if (s < 60) {
		to.add("less than a minute");
	} else if (s < 120) {
		to.add("1 minute");
	} else if (s < 3600) {
		to.num(s / 60).add(" minutes");
	} else {
		to.num(s / 3600).add(" h ");
		if (s % 3600 / 60 < 10)
			to.add('0');
		to.num(s % 3600 / 60).add(" min");
	}
}

// The command that comes back to the game in dir.
void back_command(Buf &to, std::string_view dir)
{
	const char *home = getenv("HOME");
	struct stat a, b;
	Buf mine;
	if (home && home[0] == '/')
		mine.add(home).add("/pacifica");
	if (mine.n && stat(mine.p, &a) == 0 && stat(Buf().add(dir).p, &b) == 0 && a.st_dev == b.st_dev &&
	    a.st_ino == b.st_ino) {
		to.add("pacifica");
		return;
	}
	to.add("pacifica ");
	quoted(to, dir);
}

void command_said(Buf &to, std::string_view before, std::string_view command, std::string_view after)
{
	if (command.find(' ') == command.npos)
		to.add(" '").add(command).add("' ").add(after).add('\n');
	else
		to.add(before).add(":\n    ").add(command).add('\n');
}

void next_line(const Game &g)
{
	int on = g.on();
	if (on < story::nsteps) {
		tell(story::steps[on].next);
		return;
	}
	Buf dir, back, b;
	unescape(dir, g.dir.view());
	back_command(back, dir.view());
	b.add("The game is finished: all ").num(g.ndone()).add(" steps are done, in ");
	duration(b, g.active);
	b.add(" of play. To play again, leave and type:\n    pacifica --new").add(back.view().substr(8));
	tell(b.view());
}

void steps_map(Buf &b, const Game &g)
{
	int on = g.on();
	b.add("The steps of the story; * marks those done, > the one you are on:\n");
	for (int i = 0; i < story::nsteps; i++) {
		const story::Step &s = story::steps[i];
		b.add("  ").add(g.done[i] >= 0 ? '*' : i == on ? '>' : ' ').add(' ').add(s.command);
		if (s.command.size() > 11)
			b.add("\n                ");
		else
			b.add(std::string_view("            ", 12 - s.command.size()));
		b.add(s.map).add('\n');
	}
	if (on == story::nsteps)
		b.add("Every step is done: the game is finished.\n");
}

int cmd_steps()
{
	Game g;
	the_game(g);
	Buf b;
	steps_map(b, g);
	out(b.view());
	return 0;
}

namespace {

bool within(std::string_view path, std::string_view dir)
{
	return path.substr(0, dir.size()) == dir && (path.size() == dir.size() || path[dir.size()] == '/');
}

// For the prompt of a shell whose playing directory is gone, or whose game
// another shell's pacifica --new set aside under a new name while this
// one stood in it: a word after the step, and once (while the prompt does
// not have the word yet) the line that says so, with the commands that go
// on.
std::string_view moved(const Game &g)
{
	Buf dir, escaped, b;
	unescape(dir, g.dir.view());
	const char *began = getenv("PACIFICA_DIR"), *pwd = getenv("PWD"), *shown_on = getenv("PACIFICA_ON");
	struct stat st;
	std::string_view word;
	if (began)
		escape(escaped, began);
	bool aside = began && escaped.view() != g.dir.view() && pwd && within(pwd, began) && !within(pwd, dir.view());
	if (stat(dir.p, &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
		word = ", directory gone";
		b.add("Your playing directory ");
		shown(b, dir.view());
		b.add(" is gone: it was deleted or moved. The steps done still count; these make it again and go there:");
		quoted(b.add("\n    mkdir -p "), dir.view());
	} else if (aside) {
		word = ", set aside";
		b.add("Your game was set aside as ");
		shown(b, dir.view());
		b.add(" when a new game began in ");
		shown(b, began);
		b.add(", and goes on there; this shell is in it still. This goes to it:");
	} else {
		return "";
	}
	quoted(b.add("\n    cd "), dir.view());
	std::string_view before = shown_on ? shown_on : "";
	if (before.size() < word.size() || before.substr(before.size() - word.size()) != word)
		tell(b.view());
	return word;
}

}  // namespace

// For the prompt: the step the player is on; with "last", the last
// answer after it.  Given the shell's options (and the status and last
// word of the line typed), a word on set -e, which the game shell turns
// off again, on a playing directory gone or set aside, and on a game's
// command typed with a path.
int cmd_view(int argc, char **argv)
{
	Game g;
	bool prompt = argc > 1 && std::string_view(argv[1]) != "last";
	if (prompt && std::string_view(argv[1]).find('e') != std::string_view::npos)
		say("pacifica: set -e would end the game at the first program that says no; it is off again\n");
	if (!the_game(g))
		return 1;
	// A game's command typed with a path, which bash looked for as a file.
	Buf line;
	if (prompt && argc == 4 && std::string_view(argv[2]) == "127" && strchr(argv[3], '/') && name_meant(argv[3], line))
		tell(line.view());
	int on = g.on();
	Buf b;
	b.add(on < story::nsteps ? story::steps[on].name : "finished");
	if (prompt)
		b.add(moved(g));
	if (argc > 1 && std::string_view(argv[1]) == "last")
		b.add(' ').add(g.last);
	out(b.add('\n').view());
	return 0;
}

// A hint asked for; a command that the game shell did not find, named
// when the player meant one of the game's, or else said as bash says it
// (status 127), or left to the player's handler HANDLER (status 0); or, for
// the walkthrough, which keeps a record of its own, a game begun in the
// working directory, its number said.
int cmd_note(int argc, char **argv)
{
	Game g;
	if ((argc == 3 || argc == 4) && std::string_view(argv[1]) == "typed") {
		// With a handler of the player's named, the names not meant are
		// left to it.
		Buf line;
		if (name_meant(argv[2], line)) {
			tell(line.view());
		} else if (argc == 4 && *argv[3]) {
			return 0;
		} else {
			line.add("bash: ");
			shown(line, argv[2]);
			err(line.add(": command not found\n").view());
		}
		return 127;
	}
	std::string_view what = argc == 2 ? argv[1] : "";
	if (what == "begun" && getenv("PACIFICA_RECORD_DIR")) {
		Buf why, esc;
		char cwd[4096];
		if (!open_record(true, why) || !getcwd(cwd, sizeof cwd))
			die(why.n ? why.view() : "cannot begin a game here");
		escape(esc, cwd);
		Locked l;
		if (!l.held || !begin_game(esc.view(), g))
			die("cannot begin a game here");
		out(Buf().num(g.number).add('\n').view());
		return 0;
	}
	if (what != "hint")
		die("usage: pacifica-record note hint | typed COMMAND [HANDLER]", 2);
	if (the_game(g))
		record_event(g.number, "hint", "", g);
	return 0;
}

int cmd_leave()
{
	Game g;
	if (!the_game(g))
		return 0;
	record_event(g.number, "left", "", g);
	Buf dir, back, b;
	unescape(dir, g.dir.view());
	back_command(back, dir.view());
	b.add(g.on() == story::nsteps ? "Your finished game is kept in " : "Your game is kept in ");
	shown(b, dir.view());
	if (g.on() == story::nsteps)
		command_said(b.add(';'), " this starts a new one", Buf().add("pacifica --new").add(back.view().substr(8)).view(), "");
	else
		command_said(b.add(';'), " this goes on from there", back.view(), "goes on from there.");
	show(1, b.view());
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
	    "  Ctrl-C                           cancels a line, even one a quote left open\n"
	    "The programs prologue, resettle, duplicate, raze, celebrate and retribute\n"
	    "each judge the directory they run in.\n");
	return 0;
}
