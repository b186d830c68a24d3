// pacifica-record: the game's recorder, the one program that writes and
// reads the record of play.  Installed set-group-id games, it opens the
// player's record in the class record with that privilege, then gives it
// up for good before anything else: the player's arguments are read, the
// playing directory is looked at and the game's programs run with the
// player's own IDs only.  A teacher's report alone keeps the group as its
// saved one, and takes it back only for the open of each record.  Installed without the privilege, the record is
// the player's own, in the home.
#include <fcntl.h>
#include <grp.h>
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
bool stdout_closed;
int class_dir = -1;
gid_t class_gid;

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
		if (fcntl(fd, F_GETFD) < 0) {
			stdout_closed |= fd == 1;
			if (open("/dev/null", O_RDWR) != fd)
				_exit(127);
		}
}

// The player's record in the class record, opened with the privilege: a
// regular file of the player's own in a directory of root's that only
// the recorder's group may enter, reached through no link, with no other
// name.  The player can neither reach it nor hold it open.
int class_directory(gid_t gid)
{
	struct stat st;
	int dir = open(PACIFICA_CLASS_RECORD, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (dir >= 0 && (fstat(dir, &st) != 0 || st.st_uid != 0 || st.st_gid != gid || (st.st_mode & 07) != 0)) {
		close(dir);
		return -1;
	}
	return dir;
}

bool open_class(int dir, uid_t uid, gid_t gid, bool create)
{
	if (dir < 0)
		return false;
	Buf name;
	name.num(uid);
	int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
	int fd = create ? openat(dir, name.p, flags | O_CREAT | O_EXCL, 0640) : -1;
	if (fd < 0 && (!create || errno == EEXIST))
		fd = openat(dir, name.p, flags);
	struct stat st;
	if (fd < 0 && !create && errno == ENOENT) {
		record.witnessed = true;	// a class player with no games yet
		return true;
	}
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

// Whether the caller is root, or of the group the settings name as the
// class's teachers.
bool is_teacher()
{
	Buf name;
	if (getuid() == 0)
		return true;
	if (!setting("teachers", name, true) || name.n == 0)
		return false;
	struct group *gr = getgrnam(name.p);
	if (!gr)
		return false;
	if (gr->gr_gid == getgid())
		return true;
	gid_t groups[1024];
	int n = getgroups(1024, groups);
	for (int i = 0; i < n; i++)
		if (groups[i] == gr->gr_gid)
			return true;
	return false;
}

// For good, the saved group as well, so that nothing can take it back;
// but a teacher's report keeps it, to open the records of the class.
void drop_privilege(gid_t gid, gid_t saved)
{
	if (setresgid(gid, gid, saved) != 0 || getegid() != gid)
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

// A record of the class, opened with the recorder's group for as long as
// the open takes: a regular file of the user it is named for, with no
// other name; or -1.
int open_in_class(const char *name)
{
	long uid;
	if (class_dir < 0 || !to_number(name, uid) || setresgid(-1, class_gid, -1) != 0)
		return -1;
	int fd = openat(class_dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (setresgid(-1, getgid(), -1) != 0)
		_exit(127);
	struct stat st;
	if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != static_cast<uid_t>(uid) ||
	                st.st_gid != class_gid || st.st_nlink != 1)) {
		close(fd);
		errno = EPERM;
		return -1;
	}
	return fd;
}

int main(int argc, char **argv)
{
	open_standard();
	prctl(PR_SET_DUMPABLE, 0);
	uid_t uid = getuid();
	gid_t gid = getgid(), egid = getegid();
	// Run under a program's name, from the game shell's PATH, by hand.
	const char *self = argv[0] ? strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0] : "";
	bool by_hand = step_of_program(self) >= 0;
	std::string_view verb = argc > 1 && !by_hand ? argv[1] : "";
	find_files();
	if (egid != gid) {
		int dir = class_directory(egid);
		gid_t saved = gid;
		if (verb == "report") {
			class_refused = !open_class(dir, uid, egid, false);
			if (dir >= 0 && is_teacher())
				class_dir = dir, class_gid = saved = egid;
		} else if (!getenv("PACIFICA_RECORD_DIR")) {
			class_refused = !open_class(dir, uid, egid, true);
		}
		if (dir >= 0 && dir != class_dir)
			close(dir);
		drop_privilege(gid, saved);
	}
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
