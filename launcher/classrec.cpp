// The class record: the player's record in it opened with the recorder's
// group, and, for a teacher's report, the class's records; then the group
// given up.  Nothing else of the recorder runs with the group.
#include <fcntl.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "classrec.hpp"
#include "record/record.hpp"
#include "util/conf.hpp"
#include "util/names.hpp"

#ifndef PACIFICA_CLASS_RECORD
#error "PACIFICA_CLASS_RECORD names the directory of the class record"
#endif

int class_dir = -1;
gid_t class_gid;

namespace {

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


namespace {

gid_t saved_gid;

}  // namespace

void class_open(Want w)
{
	uid_t uid = getuid();
	gid_t gid = getgid(), egid = getegid();
	saved_gid = gid;
	if (egid == gid)
		return;
	int dir = class_directory(egid);
	if (w == Want::report) {
		class_refused = !open_class(dir, uid, egid, false);
		if (dir >= 0 && is_teacher())
			class_dir = dir, class_gid = saved_gid = egid;
	} else if (w == Want::play) {
		class_refused = !open_class(dir, uid, egid, true);
	}
	if (dir >= 0 && dir != class_dir)
		close(dir);
}

void class_drop()
{
	if (getegid() != getgid())
		drop_privilege(getgid(), saved_gid);
}
