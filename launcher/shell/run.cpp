// A program of the game run and judged: its output shown as it is, its
// answer told by the story's table and appended to the record; and a
// program run by hand, not judged.
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

#include "record/record.hpp"
#include "shell/hints.hpp"
#include "shell/verbs.hpp"
#include "util/conf.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

constexpr std::string_view no_stronghold =
    "No stronghold has been built in this game yet, so this does not count: first read the alert file and "
    "confirm it with confirm_shellwatch_message.";
constexpr std::string_view by_hand = "by-hand";
// After celebrate's re-planting, the one answer of the programs that
// prints nothing.
constexpr std::string_view said_nothing = "No Grob was in jail/.grob, so celebrate hid him here again: ls -a shows .grob.";

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

namespace {

// The answer of the run being recorded, and whether the player is told
// that hints are there: once for each situation of a game, after an
// answer that is not yet right.  The record keeps the situations nudged
// as bits of one number.
static_assert(story::nhints < 63, "a nudge is one bit of the record's nudged");
int run_answer;
bool nudge_now;

bool nudge_if_stuck(const Game &, Game &g)
{
	nudge_now = false;
	if (!hints_on() || std::string_view(g.last) == "celebrate:planted")
		return true;
	if (run_answer >= 0 && story::answers[run_answer].done &&
	    g.done[step_of_program(story::answers[run_answer].program)] >= 0)
		return true;
	int ready, r = situation(g, true, ready);
	if (g.nudged & (1UL << r))
		return true;
	g.nudged |= 1UL << r;
	nudge_now = true;
	return true;
}

// Whether this is the game's first run outside its playing directory,
// which is said once a game.
bool first_outside;

bool note_outside(const Game &before, Game &)
{
	first_outside = before.outside == 0;
	return true;
}

// A run by hand is said once a game, while hints are on.
bool first_by_hand(const Game &before, Game &)
{
	return !(before.nudged & (1UL << hint_row(by_hand)));
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
	if (answer >= 0 && story::answers[answer].opening.empty() && e.n == 0)
		tell(said_nothing);
	if (!have) {
		if (game_number() > 0)
			warn(no_game);
	} else if (!counted) {
		// Said once a game: what the program said is of the directory it
		// ran in, which the game does not judge.
		Game now;
		first_outside = false;
		record_event(g.number, "outside", program, now, {}, note_outside);
		char cwd[4096];
		if (first_outside) {
			Buf b, dir, path;
			unescape(path, g.dir.view());
			struct stat st;
			bool gone = stat(path.p, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
			b.add(program);
			if (getcwd(cwd, sizeof cwd))
				shown(b.add(" judged the directory it ran in, "), cwd);
			else
				b.add(" ran in a directory that was deleted");
			b.add(", not your playing directory, so the game does not count this run. Your game is in ");
			shown_dir(dir, g);
			b.add(dir.view());
			if (gone) {
				b.add(", which is gone too; these make it again and go there:\n    mkdir -p ");
				quoted(b, path.view());
			} else {
				b.add("; this goes there:");
			}
			quoted(b.add("\n    cd "), path.view());
			tell(b.view());
		}
	} else if (run_answer = answer, record_event(g.number, program, key, g, {}, nudge_if_stuck)) {
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
	if (hints_on() && the_game(g) && record_event(g.number, "byhand", program, g, {}, first_by_hand)) {
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

