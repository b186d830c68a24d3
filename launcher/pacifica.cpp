// pacifica: the one command of the game.  To play, or for a report, it
// runs the game's recorder, which keeps the record of play and starts the
// game shell; for the walkthrough, help and the version, the launcher
// script.  Both are found from where this program lies, as the build, an
// install prefix and an unpacked package lay them out.
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#ifndef PACIFICA_RECORDER_REL
#error "PACIFICA_RECORDER_REL names the recorder relative to this program's directory"
#endif

namespace {

[[noreturn]] void die(const char *what, const char *why)
{
	std::fprintf(stderr, "pacifica: %s: %s\n", what, why);
	std::exit(1);
}

// dir + "/" + rel, in buf of PATH_MAX bytes.
const char *join(char *buf, const char *dir, const char *rel)
{
	if (std::snprintf(buf, PATH_MAX, "%s/%s", dir, rel) >= PATH_MAX)
		die(dir, std::strerror(ENAMETOOLONG));
	return buf;
}

// What the dynamic loader takes out of the environment of a program that
// runs with more privilege than its caller, as the recorder may: kept
// under other names, for the game shell to have them back.
constexpr const char *kept[] = {"TMPDIR", "LD_PRELOAD", "LD_LIBRARY_PATH", "TZDIR", "LOCPATH", "NLSPATH",
                                "GCONV_PATH", "HOSTALIASES", "LOCALDOMAIN", "RES_OPTIONS"};

void keep_environment()
{
	for (const char *name : kept)
		if (const char *value = getenv(name)) {
			char keep[64];
			std::snprintf(keep, sizeof keep, "PACIFICA_KEPT_%s", name);
			setenv(keep, value, 1);
		}
}

}  // namespace

int main(int argc, char **argv)
{
	static char self[PATH_MAX], file[PATH_MAX], share[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n < 0)
		die("/proc/self/exe", std::strerror(errno));
	self[n] = '\0';
	*std::strrchr(self, '/') = '\0';

	std::string_view first = argc > 1 ? argv[1] : "";
	if (first == "--help" || first == "--version" || first == "--walkthrough") {
		if (setenv("PACIFICA_SHARE", join(share, self, PACIFICA_BIN_SHARE_REL), 1) != 0)
			die("the environment", std::strerror(errno));
		argv[0] = const_cast<char *>(join(file, share, "pacifica.bash"));
		if (setenv("PACIFICA_RECORDER", join(share, self, PACIFICA_RECORDER_REL), 1) != 0)
			die("the environment", std::strerror(errno));
		static char bash[] = "bash";
		char **args = static_cast<char **>(calloc(argc + 2, sizeof *args));
		if (!args)
			die("memory", std::strerror(errno));
		args[0] = bash;
		for (int i = 0; i < argc; i++)
			args[i + 1] = argv[i];
		execv("/bin/bash", args);
		die("/bin/bash", std::strerror(errno));
	}

	// The arguments after a verb of the recorder's: play, or report.
	char **args = static_cast<char **>(calloc(argc + 2, sizeof *args));
	if (!args)
		die("memory", std::strerror(errno));
	join(file, self, PACIFICA_RECORDER_REL);
	static char play[] = "play", report[] = "report";
	args[0] = file;
	int i = 1;
	if (first == "--report") {
		args[1] = report;
		i = 2;
	} else {
		args[1] = play;
	}
	for (int a = i; a < argc; a++)
		args[a + (i == 1)] = argv[a];
	keep_environment();
	execv(file, args);
	die(file, std::strerror(errno));
}
