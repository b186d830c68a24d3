// pacifica: the one command of the game.  To play, it starts the game
// shell straight away, bash on the game's start-up file, which does the
// launcher's work itself: a game then starts as fast as one shell.  Every
// other command is the launcher script's, run by bash.  Both find the
// game's files from where this program lies, as the build, an install
// prefix and an unpacked package lay them out.
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#ifndef PACIFICA_SHARE_REL
#error "PACIFICA_SHARE_REL names the game's files relative to this program's directory"
#endif

namespace {

constexpr char bash[] = "/bin/bash";

// Standard error as pacifica got it, while bash starts on /dev/null.
int saved_stderr = -1;

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

bool is_play(const char *arg)
{
	for (std::string_view other : {"--help", "--version", "--walkthrough", "--report"})
		if (other == arg)
			return false;
	return true;
}

// Runs bash with first, then the arguments after argv[0].
[[noreturn]] void run_bash(std::initializer_list<const char *> first, int argc, char **argv)
{
	static const char *args[512];
	if (first.size() + argc > sizeof args / sizeof *args)
		die("arguments", std::strerror(E2BIG));
	std::size_t i = 0;
	for (const char *arg : first)
		args[i++] = arg;
	for (int a = 1; a < argc; a++)
		args[i++] = argv[a];
	args[i] = nullptr;
	execv(bash, const_cast<char **>(args));
	int error = errno;
	if (saved_stderr >= 0)
		dup2(saved_stderr, 2);
	die(bash, std::strerror(error));
}

}  // namespace

int main(int argc, char **argv)
{
	static char self[PATH_MAX], share[PATH_MAX], libexec[PATH_MAX], conf[PATH_MAX], file[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n < 0)
		die("/proc/self/exe", std::strerror(errno));
	self[n] = '\0';
	*std::strrchr(self, '/') = '\0';
	if (setenv("PACIFICA_SHARE", join(share, self, PACIFICA_SHARE_REL), 1) != 0 ||
	    setenv("PACIFICA_LIBEXEC", join(libexec, self, PACIFICA_LIBEXEC_REL), 1) != 0 ||
	    setenv("PACIFICA_CONF", join(conf, self, PACIFICA_CONF_REL), 1) != 0)
		die("the environment", std::strerror(errno));

	if (argc > 1 && !is_play(argv[1]))
		run_bash({"bash", join(file, share, "pacifica.bash")}, argc, argv);

	// Without PATH, bash would hand the game its own default, which ends in
	// the current directory.  In POSIX mode bash would skip the start-up
	// file; the game shell sets it again once it has started.
	if (!getenv("PATH"))
		setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
	if (const char *posix = getenv("POSIXLY_CORRECT")) {
		setenv("PACIFICA_POSIXLY_CORRECT", posix, 1);
		unsetenv("POSIXLY_CORRECT");
	}
	join(file, share, "gamerc.bash");
	if (access(file, R_OK) != 0)
		die(file, std::strerror(errno));

	// What bash says of the terminal as it starts (no job control without
	// one) is none of the player's business: standard error is put aside
	// until the start-up file takes it back.  Closed, it stays closed.
	unsetenv("PACIFICA_STDERR");
	saved_stderr = fcntl(2, F_DUPFD, 10);
	if (saved_stderr >= 0) {
		char fd[16];
		std::snprintf(fd, sizeof fd, "%d", saved_stderr);
		int null = open("/dev/null", O_WRONLY);
		if (null < 0 || dup2(null, 2) < 0 || setenv("PACIFICA_STDERR", fd, 1) != 0) {
			int error = errno;
			dup2(saved_stderr, 2);
			die("standard error", std::strerror(error));
		}
		close(null);
	}

	// The arguments reach the start-up file as its positional parameters.
	run_bash({"bash", "--rcfile", file, "-i", "-s", "--"}, argc, argv);
}
