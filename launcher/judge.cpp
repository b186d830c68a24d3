// The game shell's commands: a program of the game run and judged, the
// bridge over the step played outside the game, the step map, the view
// that the prompt shows, a note of a hint, and leaving.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine.hpp"

namespace {

constexpr std::string_view no_stronghold =
    "No stronghold has been built in this game yet, so this does not count: first read the alert file and "
    "confirm it with confirm_shellwatch_message.";
constexpr std::string_view no_word = "confirm_shellwatch_message: give it a word: the 10th of the alert's message";
constexpr std::string_view many_words = "confirm_shellwatch_message: one word only: the 10th of the alert's message";
constexpr std::string_view not_the_word = ": not the 10th word of the alert's message";
constexpr std::string_view confirmed =
    "Message confirmed.  Shellwatch Command has found the Grob stronghold that the\n"
    "story speaks of: it now stands in your playing directory, a tree of\n"
    "directories starting at yklim_yaw.\n";
constexpr std::string_view still_stands =
    "The Grob stronghold still stands in your playing directory, starting at\nyklim_yaw.\n";
constexpr std::string_view not_again =
    "The alert was confirmed once already in this game; the Grob stronghold is\nnot built again.\n";
constexpr std::string_view by_hand = "by-hand";
constexpr std::string_view no_game = "this shell plays no game that the record knows";

void shown_dir(Buf &to, const Game &g)
{
	Buf dir;
	unescape(dir, g.dir.view());
	shown(to, dir.view());
}

// Reads both pipes to their ends.
void drain(int out, int err, Buf &o, Buf &e)
{
	struct pollfd p[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
	Buf *to[2] = {&o, &e};
	int open = 2;
	while (open > 0) {
		if (poll(p, 2, -1) < 0) {
			if (errno == EINTR)
				continue;
			return;
		}
		for (int i = 0; i < 2; i++) {
			if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
				continue;
			char b[4096];
			ssize_t n = read(p[i].fd, b, sizeof b);
			if (n > 0) {
				to[i]->add(std::string_view(b, n));
			} else if (n == 0 || errno != EINTR) {
				close(p[i].fd);
				p[i].fd = -1;
				open--;
			}
		}
	}
}

// Runs the program with the player's arguments and no environment, its
// output captured; its wait status, or -1.
int spawn(const char *path, char **args, Buf &o, Buf &e)
{
	int out[2], errp[2];
	if (pipe2(out, O_CLOEXEC) != 0 || pipe2(errp, O_CLOEXEC) != 0)
		return -1;
	posix_spawn_file_actions_t fa;
	posix_spawnattr_t attr;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_adddup2(&fa, out[1], 1);
	posix_spawn_file_actions_adddup2(&fa, errp[1], 2);
	posix_spawnattr_init(&attr);
	// The signals this program set aside while the game's program runs
	// are the program's again, as the player's shell left them.
	sigset_t def, none;
	sigemptyset(&def);
	sigemptyset(&none);
	for (int sig : {SIGINT, SIGQUIT, SIGPIPE, SIGXFSZ}) {
		struct sigaction old, ign = {};
		ign.sa_handler = SIG_IGN;
		sigaction(sig, &ign, &old);
		if (old.sa_handler == SIG_DFL)
			sigaddset(&def, sig);
	}
	posix_spawnattr_setsigdefault(&attr, &def);
	posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
	char *no_env[] = {nullptr};
	pid_t pid;
	int failed = posix_spawn(&pid, path, &fa, &attr, args, no_env);
	posix_spawn_file_actions_destroy(&fa);
	posix_spawnattr_destroy(&attr);
	close(out[1]);
	close(errp[1]);
	if (failed) {
		close(out[0]);
		close(errp[0]);
		errno = failed;
		return -1;
	}
	drain(out[0], errp[0], o, e);
	int status;
	while (waitpid(pid, &status, 0) < 0)
		if (errno != EINTR)
			return -1;
	return status;
}

}  // namespace

// The game and its state, from the record, for the shell that plays it.
bool the_game(Game &g)
{
	Buf why;
	open_record(false, why);
	long number = game_number();
	return number > 0 && find_game(record, number, g);
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
	b.add(" of play. To play again, leave and type: pacifica --new");
	b.add(back.view().substr(8));
	tell(b.view());
}

namespace {

// The answer of the run being recorded, and whether the player is told
// that hints are there: once for each situation of a game, after an
// answer that is not yet right.  The record keeps the situations nudged
// as bits of one number.
static_assert(story::nhints < 63, "a nudge is one bit of the record's nudged");
int run_answer;
bool nudge_now;

void nudge_if_stuck(Game &g)
{
	nudge_now = false;
	if (!hints_on() || std::string_view(g.last) == "celebrate:planted")
		return;
	if (run_answer >= 0 && story::answers[run_answer].done &&
	    g.done[step_of_program(story::answers[run_answer].program)] >= 0)
		return;
	int ready, r = situation(g, true, ready);
	if (g.nudged & (1UL << r))
		return;
	g.nudged |= 1UL << r;
	nudge_now = true;
}

}  // namespace

int cmd_run(int argc, char **argv)
{
	if (argc < 2 || step_of_program(argv[1]) < 0)
		die("usage: pacifica-record run PROGRAM [ARG...]", 2);
	std::string_view program = argv[1];
	Game g;
	bool have = the_game(g), counted = have && here(g);
	Buf path, o, e;
	path.add(libexec.view()).add('/').add(program);
	argv[1] = path.p;
	int status = spawn(path.p, argv + 1, o, e);
	if (status < 0) {
		Buf b;
		b.add("cannot run ").add(path.view()).add(": ").add(strerror(errno));
		die(b.view(), 127);
	}
	show(1, o.view());
	bool broken = !write_all(2, e.view()) && errno == EPIPE;
	if (WIFSIGNALED(status)) {
		// Killed: no answer to record; the shell sees the same end.
		signal(WTERMSIG(status), SIG_DFL);
		raise(WTERMSIG(status));
		return 128 + WTERMSIG(status);
	}
	status = WEXITSTATUS(status);
	int answer = answer_of(program, status, o.view());
	std::string_view key = answer >= 0 ? story::answers[answer].key : "other";
	if (!have) {
		if (game_number() > 0)
			warn(no_game);
	} else if (!counted) {
		// Said once a game: what the program said is of the directory it
		// ran in, which the game does not judge.
		Game now;
		bool first = g.outside == 0;
		record_event(record, g.number, "outside", program, now);
		char cwd[4096];
		if (first) {
			Buf b, dir;
			b.add(program).add(" judged the directory it ran in, ");
			shown(b, getcwd(cwd, sizeof cwd) ? cwd : ".");
			b.add(", not your playing directory, so the game does not count this run. Your game is in ");
			shown_dir(dir, g);
			b.add(dir.view()).add(": cd ");
			Buf path;
			unescape(path, g.dir.view());
			quoted(b, path.view());
			b.add(" goes there.");
			tell(b.view());
		}
	} else if (run_answer = answer, record_event(record, g.number, program, key, g, {}, nudge_if_stuck)) {
		bool completes = answer >= 0 && story::answers[answer].done;
		int step = step_of_program(program);
		if (completes && g.done[step] < 0)
			tell(no_stronghold);
		else if (completes)
			next_line(g);
		if (nudge_now)
			say("Stuck? Type 'hint'.\n");
	}
	if (broken) {
		signal(SIGPIPE, SIG_DFL);
		raise(SIGPIPE);
	}
	return status;
}

// A program of the game run by hand, not through the game shell's own
// command (command prologue, its path, env, sh -c): run as it is, not
// judged, and said so once a game.
int cmd_by_hand(char **argv)
{
	std::string_view program = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
	Game g;
	if (hints_on() && the_game(g) && !(g.nudged & (1UL << hint_row(by_hand)))) {
		record_event(record, g.number, "byhand", program, g);
		Buf text;
		hint_idea(text, hint_row(by_hand), program);
		tell(text.view());
	}
	Buf path;
	path.add(libexec.view()).add('/').add(program);
	argv[0] = path.p;
	execv(path.p, argv);
	die(Buf().add("cannot run ").add(path.view()).add(": ").add(strerror(errno)).view(), 127);
}

int cmd_bridge(int argc, char **argv)
{
	Game g;
	if (!the_game(g))
		die(no_game);
	Buf word;
	if (argc == 2)
		for (const char *c = argv[1]; *c; c++)
			word.add(*c >= 'A' && *c <= 'Z' ? char(*c - 'A' + 'a') : *c);
	if (argc != 2 || word.view() != story::word) {
		Game now;
		record_event(record, g.number, "word", "", now);
		Buf b, given;
		if (argc == 2) {
			std::string_view w = argv[1];
			given.add('"').add(w.size() > 24 ? w.substr(0, 20) : w).add(w.size() > 24 ? "...\"" : "\"");
			b.add("confirm_shellwatch_message: ");
			shown(b, given.view());
			b.add(not_the_word);
		}
		Buf text;
		wrap(text, text_width(2), argc < 2 ? no_word : argc > 2 ? many_words : b.view());
		err(text.add('\n').view());
		return 1;
	}
	Buf dir;
	unescape(dir, g.dir.view());
	int bridge = step_index("bridge");
	if (g.done[bridge] >= 0) {
		Buf s;
		s.add(dir.view()).add('/').add(story::stronghold).add('/');
		struct stat st;
		out(stat(s.p, &st) == 0 && S_ISDIR(st.st_mode) ? still_stands : not_again);
		return 0;
	}
	// Built inside the playing directory as it stands, through no link.
	int at = open(dir.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (at < 0) {
		Buf b;
		b.add("confirm_shellwatch_message: your playing directory ");
		shown(b, dir.view());
		b.add(" is gone\n");
		err(b.view());
		return 1;
	}
	std::string_view rest = story::stronghold;
	Buf part, so_far;
	while (!rest.empty()) {
		size_t slash = rest.find('/');
		part.clear();
		part.add(rest.substr(0, slash));
		rest = slash == rest.npos ? std::string_view() : rest.substr(slash + 1);
		so_far.add(so_far.n ? "/" : "").add(part.view());
		if (mkdirat(at, part.p, 0777) != 0 && errno != EEXIST) {
			Buf b;
			b.add("confirm_shellwatch_message: cannot create directory '").add(so_far.view()).add("': ");
			b.add(strerror(errno)).add('\n');
			err(b.view());
			return 1;
		}
		int next = openat(at, part.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		close(at);
		if (next < 0) {
			Buf b;
			b.add("confirm_shellwatch_message: ").add(so_far.view()).add(" is in the way of the stronghold; move it aside\n");
			err(b.view());
			return 1;
		}
		at = next;
	}
	close(at);
	record_event(record, g.number, "bridge", "", g);
	out(confirmed);
	next_line(g);
	return 0;
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

// For the prompt: the step the player is on; with "last", the last
// answer after it.  Given the shell's options, a word on set -e, which the
// game shell turns off again.
int cmd_view(int argc, char **argv)
{
	Game g;
	if (argc > 1 && std::string_view(argv[1]).find('e') != std::string_view::npos && std::string_view(argv[1]) != "last")
		say("pacifica: set -e would end the game at the first program that says no; it is off again\n");
	if (!the_game(g))
		return 1;
	int on = g.on();
	Buf b;
	b.add(on < story::nsteps ? story::steps[on].name : "finished");
	if (argc > 1 && std::string_view(argv[1]) == "last")
		b.add(' ').add(g.last);
	out(b.add('\n').view());
	return 0;
}

// A hint asked for; or, for the walkthrough, which keeps a record of its
// own, a game begun in the working directory, its number said.
int cmd_note(int argc, char **argv)
{
	Game g;
	std::string_view what = argc == 2 ? argv[1] : "";
	if (what == "begun" && getenv("PACIFICA_RECORD_DIR")) {
		Buf why, esc;
		char cwd[4096];
		if (!open_record(true, why) || !getcwd(cwd, sizeof cwd))
			die(why.n ? why.view() : "cannot begin a game here");
		escape(esc, cwd);
		if (!record_event(record, 0, "begun", esc.view(), g))
			die("cannot begin a game here");
		out(Buf().num(g.number).add('\n').view());
		return 0;
	}
	if (what != "hint")
		die("usage: pacifica-record note hint", 2);
	if (the_game(g))
		record_event(record, g.number, "hint", "", g);
	return 0;
}

int cmd_leave()
{
	Game g;
	if (!the_game(g))
		return 0;
	record_event(record, g.number, "left", "", g);
	Buf dir, back, b;
	unescape(dir, g.dir.view());
	back_command(back, dir.view());
	b.add(g.on() == story::nsteps ? "Your finished game is kept in " : "Your game is kept in ");
	shown(b, dir.view());
	if (g.on() == story::nsteps)
		b.add("; 'pacifica --new").add(back.view().substr(8)).add("' starts a new one.\n");
	else
		b.add("; '").add(back.view()).add("' goes on from there.\n");
	show(1, b.view());
	return 0;
}
