// The directory of the record in the home, where the game keeps it when
// it is not installed with the class record: every step of the way from
// HOME or XDG_STATE_HOME down the real user's, reached through no link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "record/record.hpp"
#include "util/names.hpp"

namespace {

// A directory of the real user's below at, reached through no link, made
// when it is missing and create is set.
int user_dir(int at, const char *name, bool create, Buf &why, std::string_view path)
{
	int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	// Another game shell may make it at the same moment.
	if (fd < 0 && errno == ENOENT && create && (mkdirat(at, name, 0700) == 0 || errno == EEXIST))
		fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	struct stat st;
	if (fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == getuid())
		return fd;
	if (fd >= 0) {
		close(fd);
		why.add(path).add(" belongs to another user, so no game can be remembered");
	} else if (errno == ENOTDIR || errno == ELOOP) {
		why.add(path).add(" is not a directory, so no game can be remembered");
	}
	return -1;
}

}  // namespace

int state_dir(bool create, Buf &why, Buf &path)
{
	const char *xdg = getenv("PACIFICA_RECORD_DIR");
	bool own = xdg != nullptr;
	if (!own && (xdg = getenv("XDG_STATE_HOME")) && xdg[0] != '/')
		xdg = nullptr;
	const char *home = getenv("HOME");
	if (!xdg) {
		if (!home || !*home) {
			why.add("HOME is not set, so no game can be remembered");
			return -1;
		}
		if (home[0] != '/') {
			why.add("HOME is not an absolute path, so no game can be remembered");
			return -1;
		}
	}
	Buf base;
	base.add(xdg ? xdg : home);
	const char *below[] = {".local", "state", "pacifica"};
	int first = own ? 3 : xdg ? 2 : 0;
	path.add(base.view());
	for (int i = first; i < 3; i++)
		path.add('/').add(below[i]);
	int at = open(base.p, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	struct stat st;
	if (at < 0 || fstat(at, &st) != 0 || st.st_uid != getuid()) {
		if (at >= 0) {
			shown(why, base.view());
			why.add(" belongs to another user, so no game can be remembered");
			close(at);
		}
		return -1;
	}
	// Below HOME, .local/state/pacifica; below XDG_STATE_HOME, pacifica.
	for (int i = first; i < 3; i++) {
		base.add('/').add(below[i]);
		Buf seen;
		shown(seen, base.view());
		int fd = user_dir(at, below[i], create, why, seen.view());
		close(at);
		if (fd < 0)
			return -1;
		at = fd;
	}
	return at;
}
