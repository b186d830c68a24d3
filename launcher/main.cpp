// pacifica-record: the game's recorder, the one program that writes and
// reads the record of play.  Installed set-group-id games, it opens the
// player's record in the class record with that privilege (classrec.cpp),
// then gives it up for good before anything else: the player's arguments
// are read, the playing directory is looked at and the game's programs run
// with the player's own IDs only.  Installed without the privilege, the
// record is the player's own, in the home.
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "classrec.hpp"
#include "record/record.hpp"
#include "shell/verbs.hpp"
#include "util/buf.hpp"
#include "util/conf.hpp"
#include "util/out.hpp"

namespace {

// What the dynamic loader takes out of the environment of a program
// that runs with more privilege than its caller; the pacifica command
// keeps them under these names for the game shell.
constexpr const char *kept[] = {"TMPDIR", "LD_PRELOAD", "LD_LIBRARY_PATH", "TZDIR", "LOCPATH", "NLSPATH",
                                "GCONV_PATH", "HOSTALIASES", "LOCALDOMAIN", "RES_OPTIONS"};

void restore_environment()
{
	for (const char *name : kept) {
		Buf keep;
		keep.add("PACIFICA_KEPT_").add(name);
		if (const char *value = getenv(keep.p)) {
			if (getauxval(AT_SECURE))
				setenv(name, value, 1);
			unsetenv(keep.p);
		}
	}
}

// What the recorder is run for, from its name and first word alone: the
// class record is opened before anything else of the caller's is read.
Want wanted(int argc, char **argv)
{
	const char *self = argv[0] ? strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0] : "";
	if (step_of_program(self) >= 0)
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
	bool yes = false;
	for (int i = 2; i < argc; i++)
		yes |= std::string_view(argv[i]) == "--yes";
	class_open(wanted(argc, argv), yes);
	class_drop();
	// Run under a program's name, from the game shell's PATH, by hand.
	const char *self = argv[0] ? strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0] : "";
	bool by_hand = step_of_program(self) >= 0;
	std::string_view verb = argc > 1 && !by_hand ? argv[1] : "";
	find_files();
	restore_environment();
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
