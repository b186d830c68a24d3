// pacifica-record: the game's recorder, the one program that writes and
// reads the record of play.  Installed set-group-id games, it opens the
// player's record in the class record with that privilege (classrec.cpp),
// then gives it up for good before anything else: the player's arguments
// are read, the playing directory is looked at and the game's programs run
// with the player's own IDs only.  Installed without the privilege, the
// record is the player's own, in the home.
//
// Run under any name but its own and the programs', as the pacifica
// command is a link to it, it is that command: it plays, or reports, or
// hands the walkthrough, the help and the version to the launcher script.
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "classrec.hpp"
#include "record/record.hpp"
#include "shell/verbs.hpp"
#include "util/buf.hpp"
#include "util/conf.hpp"
#include "util/out.hpp"

namespace {

// What the dynamic loader takes out of the environment of a program that
// runs with more privilege than its caller, as the recorder may: given
// back, once the privilege is gone, as the caller gave them, for the game
// shell and the programs.  The loader takes the names out of environ, not
// the strings: the kernel lays them out after the last argument's and
// before the program's file name, where they stay.  (/proc/self/environ
// holds the same, but a process that cannot be dumped may not read it.)
constexpr std::string_view kept[] = {"TMPDIR", "LD_PRELOAD", "LD_LIBRARY_PATH", "TZDIR", "LOCPATH", "NLSPATH",
                                     "GCONV_PATH", "HOSTALIASES", "LOCALDOMAIN", "RES_OPTIONS"};

void restore_environment(int argc, char **argv)
{
	const char *end = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
	if (!getauxval(AT_SECURE) || argc < 1 || !end)
		return;
	const char *p = argv[argc - 1] + strlen(argv[argc - 1]) + 1;
	// As much as execve takes at most, and no less than nothing.
	if (end < p || end - p > 32 << 20)
		return;
	while (p < end) {
		const char *nul = static_cast<const char *>(memchr(p, '\0', end - p));
		if (!nul)
			return;
		std::string_view var(p, nul - p);
		size_t eq = var.find('=');
		for (std::string_view name : kept)
			if (eq == name.size() && var.substr(0, eq) == name) {
				Buf n, v;
				n.add(name), v.add(var.substr(eq + 1));
				if (!getenv(n.p))
					setenv(n.p, v.p, 1);
			}
		p = nul + 1;
	}
}

// The name the recorder is run under, without its directory.
std::string_view name_of(const char *argv0)
{
	if (!argv0)
		return "";
	const char *slash = strrchr(argv0, '/');
	return slash ? slash + 1 : argv0;
}

// As the pacifica command, the recorder's own arguments for the
// command's: report for --report, play for anything else but what the
// launcher script does, for which launcher is set.
char **command_verb(int &argc, char **argv, bool &launcher)
{
	std::string_view first = argc > 1 ? argv[1] : "";
	launcher = first == "--help" || first == "--version" || first == "--walkthrough";
	if (launcher)
		return argv;
	// Kept for the life of the process, as argv is.
	static char **args;
	args = static_cast<char **>(calloc(argc + 2, sizeof *args));
	if (!args)
		die("out of memory");
	static char play[] = "play", report[] = "report";
	bool reporting = first == "--report";
	args[0] = argv[0];
	args[1] = reporting ? report : play;
	for (int i = 1 + reporting; i < argc; i++)
		args[i + !reporting] = argv[i];
	argc += !reporting;
	return args;
}

// The walkthrough, the help and the version: the launcher script's, which
// bash runs with the game's files named.
[[noreturn]] void run_launcher(int argc, char **argv)
{
	Buf script;
	script.add(share.view()).add("/pacifica.bash");
	if (setenv("PACIFICA_SHARE", share.p, 1) != 0 || setenv("PACIFICA_RECORDER", recorder.p, 1) != 0)
		die("the environment is full");
	char **args = static_cast<char **>(calloc(argc + 2, sizeof *args));
	if (!args)
		die("out of memory");
	static char bash[] = "bash";
	args[0] = bash, args[1] = script.p;
	for (int i = 1; i < argc; i++)
		args[i + 1] = argv[i];
	execv("/bin/bash", args);
	die(Buf().add("/bin/bash: ").add(strerror(errno)).view());
}

// What the recorder is run for, from its name and first word alone: the
// class record is opened before anything else of the caller's is read.
Want wanted(int argc, char **argv, bool by_hand)
{
	if (by_hand)
		return Want::play;
	// Clearing for a new term takes no other argument but --yes: anything
	// else is a report, which says what is wrong with its arguments.
	if (argc > 1 && std::string_view(argv[1]) == "report") {
		bool clear = false, other = false;
		for (int i = 2; i < argc; i++)
			(std::string_view(argv[i]) == "--clear" ? clear : other) |= std::string_view(argv[i]) != "--yes";
		return clear && !other ? Want::clear : Want::report;
	}
	// The walkthrough plays in a record of its own.
	return getenv("PACIFICA_RECORD_DIR") ? Want::none : Want::play;
}

}  // namespace

int main(int argc, char **argv)
{
	// Run under a program's name, from the game shell's PATH, by hand;
	// under another name but its own, as the pacifica command.
	int given_argc = argc;
	char **given_argv = argv;
	std::string_view self = name_of(argv[0]);
	bool by_hand = step_of_program(self) >= 0, launcher = false;
	if (!by_hand && !self.empty() && self != "pacifica-record")
		argv = command_verb(argc, argv, launcher);
	bool yes = false;
	for (int i = 2; i < argc; i++)
		yes |= std::string_view(argv[i]) == "--yes";
	class_open(launcher ? Want::none : wanted(argc, argv, by_hand), yes);
	class_drop();
	// Where the game's own lines go is settled now, while the record's
	// are the only descriptors the recorder has opened: a number free now
	// may later be one it holds for a moment, then the record's or its
	// index's.
	say_fd();
	// With fewer descriptors a start would take a record it cannot open
	// for one not the recorder's, or the playing directory for empty.
	constexpr rlim_t fewest_descriptors = 16;
	if (struct rlimit nofile; getrlimit(RLIMIT_NOFILE, &nofile) == 0 && nofile.rlim_cur < fewest_descriptors)
		die(Buf().add("ulimit -n ").num(static_cast<long>(nofile.rlim_cur)).add(" leaves the game too few descriptors; it needs ")
		        .num(fewest_descriptors).view());
	std::string_view verb = argc > 1 && !by_hand ? argv[1] : "";
	find_files();
	restore_environment(given_argc, given_argv);
	if (launcher)
		run_launcher(argc, argv);
	if (by_hand)
		return cmd_by_hand(argv);
	if (verb == "play")
		return cmd_play(argc - 1, argv + 1);
	if (verb == "run")
		return cmd_run(argc - 1, argv + 1);
	if (verb == "bridge")
		return cmd_bridge(argc - 1, argv + 1);
	if (verb == "steps")
		return cmd_steps();
	if (verb == "view")
		return cmd_view(argc - 1, argv + 1);
	if (verb == "hint")
		return cmd_hint();
	if (verb == "help")
		return cmd_help(argc - 1, argv + 1);
	if (verb == "leave")
		return cmd_leave();
	if (verb == "note")
		return cmd_note(argc - 1, argv + 1);
	if (verb == "report")
		return cmd_report(argc - 1, argv + 1);
	die("pacifica-record is the game's own; type pacifica to play", 2);
}
