// pacifica-record: the game's recorder, the one program that writes and
// reads the record of play.  Installed set-group-id games, it opens the
// player's record in the class record with that privilege, then gives it
// up for good before anything else: the player's arguments are read, the
// playing directory is looked at and the game's programs run with the
// player's own IDs only.  Installed without the privilege, the record is
// the player's own, in the home.
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine.hpp"

#ifndef PACIFICA_CLASS_RECORD
#error "PACIFICA_CLASS_RECORD names the directory of the class record"
#endif

Record record;
Buf libexec, share, conf;
bool class_refused;

namespace {

// What the dynamic loader takes out of the environment of a program
// that runs with more privilege than its caller; the pacifica command
// keeps them under these names for the game shell.
constexpr const char *kept[] = {"TMPDIR", "LD_PRELOAD", "LD_LIBRARY_PATH", "TZDIR", "LOCPATH", "NLSPATH",
                                "GCONV_PATH", "HOSTALIASES", "LOCALDOMAIN", "RES_OPTIONS"};

// A closed standard descriptor would be the number of the first file this
// program opens, and its output would go there.
void open_standard()
{
	for (int fd = 0; fd < 3; fd++)
		if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
			_exit(127);
}

// The player's record in the class record, opened with the privilege: a
// regular file of the player's own in a directory of root's that only
// the recorder's group may enter, reached through no link, with no other
// name.  The player can neither reach it nor hold it open.
bool open_class(uid_t uid, gid_t gid)
{
	struct stat st;
	int dir = open(PACIFICA_CLASS_RECORD, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (dir < 0)
		return false;
	if (fstat(dir, &st) != 0 || st.st_uid != 0 || st.st_gid != gid || (st.st_mode & 07) != 0) {
		close(dir);
		return false;
	}
	Buf name;
	name.num(uid);
	int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
	int fd = openat(dir, name.p, flags | O_CREAT | O_EXCL, 0640);
	if (fd < 0 && errno == EEXIST)
		fd = openat(dir, name.p, flags);
	close(dir);
	if (fd < 0)
		return false;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != uid || st.st_gid != gid || st.st_nlink != 1 ||
	    (st.st_mode & 0137) != 0) {
		close(fd);
		return false;
	}
	record.fd = fd;
	record.writable = record.witnessed = true;
	record.path.add(PACIFICA_CLASS_RECORD "/").add(name.view());
	return true;
}

// For good: the saved group as well, so that nothing can take it back.
void drop_privilege(gid_t gid)
{
	if (setresgid(gid, gid, gid) != 0 || getegid() != gid)
		_exit(127);
	prctl(PR_SET_DUMPABLE, 0);
}

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

// The game's programs and files, found from where this program lies.
void find_files()
{
	char self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n <= 0)
		die("cannot find where the game lies: /proc/self/exe");
	self[n] = '\0';
	*strrchr(self, '/') = '\0';
	libexec.add(self).add("/" PACIFICA_LIBEXEC_REL);
	share.add(self).add("/" PACIFICA_SHARE_REL);
	conf.add(self).add("/" PACIFICA_CONF_REL);
}

}  // namespace

int main(int argc, char **argv)
{
	open_standard();
	prctl(PR_SET_DUMPABLE, 0);
	uid_t uid = getuid();
	gid_t gid = getgid(), egid = getegid();
	if (egid != gid) {
		if (!getenv("PACIFICA_RECORD_DIR"))
			class_refused = !open_class(uid, egid);
		drop_privilege(gid);
	}
	restore_environment();
	find_files();

	std::string_view verb = argc > 1 ? argv[1] : "";
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
