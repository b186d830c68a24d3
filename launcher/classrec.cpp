// The recorder's privilege, and the record's descriptors.
//
// The class record is a directory of root's that only the group games
// may enter; in it each player has a directory of their own, named by
// the user ID, owned by the player and of the group games, which no
// player can reach by any path since the class record's directory is shut
// to them.  With the group, class_open opens the player's directory (and
// makes it, for a game), or for a teacher's report opens every record of
// the class read-only; class_drop then sets all three group IDs to the
// player's and checks them.  What the recorder does after that, it does
// with the player's own IDs, through the descriptors opened here, which
// no other part of the recorder holds: the record's two generations are
// read and appended to by the functions of the second half of this file,
// which take only whole lines of the record's shape.  The record in the
// home is held the same way.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "classrec.hpp"
#include "record/game.hpp"
#include "util/conf.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

#ifndef PACIFICA_CLASS_RECORD
#error "PACIFICA_CLASS_RECORD names the directory of the class record, or is empty"
#endif
#ifndef PACIFICA_CONF_REL
#error "PACIFICA_CONF_REL names the settings relative to the recorder's directory"
#endif
#ifndef PACIFICA_RECORDER_PATH
#error "PACIFICA_RECORDER_PATH names where the recorder is installed with the class record, or is empty"
#endif

namespace {

constexpr std::string_view class_record = PACIFICA_CLASS_RECORD;
// What the recorder leaves: the player's directory, set-group-id so that
// what is made in it is of the group games; the current generation; the
// record in the home.
constexpr mode_t player_mode = S_IFDIR | 02770, class_mode_bits = S_IFREG | 0640, home_mode_bits = 0600;
const char *const generation[2] = {"record", "record.1"};
// Beside them, the record's index: a hint, made and mended by the
// recorder alone, that every use checks against the record.
constexpr char index_name[] = "index";

// The record held.
int dir = -1;			// the player's directory in the class record, or the home's
int gen[2] = {-1, -1};		// record and record.1
int idx = -1;			// the index
bool in_class, writable, locked;
Buf where, refusal;		// the directory as shown; why the class record was refused
Buf rec_path_buf;
gid_t games = static_cast<gid_t>(-1);

// A teacher's report: every record of the class.
struct Player {
	uid_t uid;
	int gen[2], index;
	Buf why;
};
Player *players;
long nplayers, cap_players;
bool teacher;
// A new term.
long cleared = -1;
Buf not_cleared;

// The standard descriptors: one closed would be the number of the first
// file opened, and what is written to it would go there.
void open_standard()
{
	for (int fd = 0; fd < 3; fd++)
		if (fcntl(fd, F_GETFD) < 0) {
			stdout_closed |= fd == 1;
			if (open("/dev/null", O_RDWR) != fd)
				_exit(127);
		}
}

// "PATH is not as the recorder left it (WHAT); a teacher can mend it:
// FIX", for the player to pass on.
void refuse(std::string_view path, std::string_view what, std::string_view fix)
{
	refusal.clear();
	refusal.add("the class record ").add(path).add(" is not as the recorder left it (").add(what).add(')');
	if (!fix.empty())
		refusal.add("; a teacher can mend it: ").add(fix);
}

// "PATH could not be opened (WHY)" when it is the recorder that lacks
// the descriptors or the memory, by the player's limits perhaps: nothing
// of the class record's is wrong, nor a teacher's to mend.
bool short_of_room(std::string_view path, int err)
{
	if (err != EMFILE && err != ENFILE && err != ENOMEM)
		return false;
	refusal.clear();
	refusal.add("the class record ").add(path).add(" could not be opened (").add(strerror(err)).add(')');
	return true;
}

// A mode as chmod takes it: 0640, 2770.
Buf &octal(Buf &to, mode_t mode)
{
	char m[5] = {char('0' + (mode >> 9 & 7)), char('0' + (mode >> 6 & 7)), char('0' + (mode >> 3 & 7)),
	             char('0' + (mode & 7)), 0};
	return to.add(m);
}

// What is wrong with the file st as the recorder left it, of uid, with
// mode; and the command that mends it.  False when nothing is.
bool wrong(const struct stat &st, uid_t uid, mode_t mode, std::string_view path, Buf &what, Buf &fix)
{
	if ((st.st_mode & S_IFMT) != (mode & S_IFMT)) {
		what.add(S_ISDIR(mode) ? "not a directory" : "not a regular file");
		fix.add("sudo mv ").add(path).add(' ').add(path).add(".bad");
	} else if (st.st_uid != uid) {
		what.add("owner ").num(st.st_uid).add(", not ").num(uid);
		fix.add("sudo chown ").num(uid).add(' ').add(path);
	} else if (st.st_gid != games) {
		what.add("group ").num(st.st_gid).add(", not games");
		fix.add("sudo chgrp games ").add(path);
	} else if ((st.st_mode & 07777) != (mode & 07777)) {
		what.add("mode ");
		octal(what, st.st_mode).add(", not ");
		octal(what, mode);
		octal(fix.add("sudo chmod "), mode).add(' ').add(path);
	} else if (!S_ISDIR(mode) && st.st_nlink != 1) {
		what.num(st.st_nlink).add(" names, not one");
		fix.add("sudo sh -c 'cp -p ").add(path).add(' ').add(path).add(".new && mv ").add(path).add(".new ")
		    .add(path).add('\'');
	} else {
		return false;
	}
	return true;
}

bool checked(int fd, uid_t uid, mode_t mode, std::string_view path)
{
	struct stat st;
	Buf what, fix;
	if (fstat(fd, &st) != 0) {
		refuse(path, strerror(errno), "");
		return false;
	}
	if (!wrong(st, uid, mode, path, what, fix))
		return true;
	refuse(path, what.view(), fix.view());
	return false;
}

// A directory made with exactly mode, whatever the umask.
bool make_dir(int at, const char *name, mode_t mode)
{
	mode_t old = umask(0);
	bool made = mkdirat(at, name, mode & 07777) == 0 || errno == EEXIST;
	umask(old);
	return made;
}

// Version 1.1 kept a player's record as the file UID itself, made with
// whatever mode the umask gave: it becomes UID/record, by way of UID.old,
// so that a start cut short anywhere is finished by the next.
bool legacy(const struct stat &st, uid_t uid)
{
	return S_ISREG(st.st_mode) && st.st_uid == uid && st.st_gid == games && st.st_nlink == 1;
}

void take_over_file(int cls, const char *name, uid_t uid, std::string_view path)
{
	Buf old;
	old.add(name).add(".old");
	struct stat st;
	if (fstatat(cls, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
		if (!legacy(st, uid)) {
			Buf what, fix;
			wrong(st, uid, S_IFREG | (st.st_mode & 07777), path, what, fix);
			refuse(path, what.view(), fix.view());
			return;
		}
		renameat(cls, name, cls, old.p);
	}
	if (fstatat(cls, old.p, &st, AT_SYMLINK_NOFOLLOW) != 0 || !legacy(st, uid) || !make_dir(cls, name, player_mode))
		return;
	int to = openat(cls, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	int fd = openat(cls, old.p, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (to >= 0 && fd >= 0 && fchmod(fd, class_mode_bits & 07777) == 0)
		renameat2(cls, old.p, to, "record", RENAME_NOREPLACE);
	if (fd >= 0)
		close(fd);
	if (to >= 0)
		close(to);
}

// The player's directory in the class record, made for a game; -1 when
// there is none, with the refusal said where it is not as it should be.
int open_player(int cls, uid_t uid, bool create)
{
	Buf name, path;
	name.num(uid);
	path.add(class_record).add('/').add(name.view());
	where.clear();
	where.add(path.view());
	if (create)
		take_over_file(cls, name.p, uid, path.view());
	if (refusal.n)
		return -1;
	int fd = openat(cls, name.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0 && errno == ENOENT && create && make_dir(cls, name.p, player_mode))
		fd = openat(cls, name.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0 && errno == ENOENT)
		return -1;	// no games yet
	if (fd < 0) {
		struct stat st;
		Buf what, fix;
		int was = errno;
		if (short_of_room(path.view(), was))
			return -1;
		if (fstatat(cls, name.p, &st, AT_SYMLINK_NOFOLLOW) == 0 && wrong(st, uid, player_mode, path.view(), what, fix))
			refuse(path.view(), what.view(), fix.view());
		else
			refuse(path.view(), strerror(was), "");
		return -1;
	}
	if (!checked(fd, uid, player_mode, path.view())) {
		close(fd);
		return -1;
	}
	return fd;
}

// The teachers group of the settings, read only from a file that root
// keeps and no one else may write.
bool teachers_group(Buf &name)
{
	char self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n <= 0)
		return false;
	self[n] = '\0';
	*strrchr(self, '/') = '\0';
	Buf path, text;
	path.add(self).add("/" PACIFICA_CONF_REL);
	int fd = open(path.p, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	char b[4096];
	if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & 022) == 0)
		for (ssize_t got; text.n < (1 << 16) && (got = read(fd, b, sizeof b)) > 0;)
			text.add(std::string_view(b, got));
	if (fd >= 0)
		close(fd);
	return setting_in(text.view(), "teachers", name) && name.n > 0;
}

// Whether the caller may see every player's record: root, or a member of
// the group the settings name as teachers.
bool is_teacher()
{
	Buf name;
	if (getuid() == 0)
		return true;
	struct group *gr = teachers_group(name) ? getgrnam(name.p) : nullptr;
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

Player &add_player(uid_t uid)
{
	room_for(players, nplayers, cap_players, 256);
	Player &p = players[nplayers++];
	p.uid = uid;
	p.gen[0] = p.gen[1] = p.index = -1;
	new (&p.why) Buf;
	return p;
}

// A record of the class, read-only, as the recorder left it.
int open_generation_of(int at, const char *name, uid_t uid, mode_t mode, std::string_view path, Buf &why)
{
	int fd = openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	Buf what, fix;
	if (fd < 0 && errno != ENOENT && !why.n) {
		if (fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && wrong(st, uid, mode, path, what, fix))
			why.add(path).add(" is not as the recorder left it (").add(what.view()).add(')');
		else
			why.add(path).add(": ").add(strerror(errno));
	}
	if (fd >= 0 && fstat(fd, &st) == 0 && wrong(st, uid, mode, path, what, fix)) {
		if (!why.n)
			why.add(path).add(" is not as the recorder left it (").add(what.view()).add(')');
		close(fd);
		return -1;
	}
	return fd;
}

// For a teacher, every record of the class, opened while the group is
// held, so that no code of the report runs with it.
void open_class_records(int cls)
{
	struct rlimit nofile;
	if (getrlimit(RLIMIT_NOFILE, &nofile) == 0 && nofile.rlim_cur < nofile.rlim_max) {
		nofile.rlim_cur = nofile.rlim_max;
		setrlimit(RLIMIT_NOFILE, &nofile);
	}
	int listed = dup(cls);
	DIR *d = listed >= 0 ? fdopendir(listed) : nullptr;
	if (!d) {
		Player &p = add_player(static_cast<uid_t>(-1));
		p.why.add("cannot list ").add(class_record).add(": ").add(strerror(errno));
		return;
	}
	while (struct dirent *e = readdir(d)) {
		std::string_view name = e->d_name;
		bool old = name.size() > 4 && name.substr(name.size() - 4) == ".old";
		long uid;
		if (!to_number(old ? name.substr(0, name.size() - 4) : name, uid) || uid > 0x7fffffff)
			continue;
		Buf path;
		path.add(class_record).add('/').add(name);
		struct stat st;
		if (fstatat(cls, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
			continue;
		if (S_ISREG(st.st_mode)) {
			// 1.1's record as it was, not yet taken over by its player.
			Player &p = add_player(uid);
			int fd = openat(cls, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
			if (fd >= 0 && fstat(fd, &st) == 0 && legacy(st, uid))
				p.gen[0] = fd;
			else
				p.why.add(path.view()).add(fd < 0 ? ": " : " is not as the recorder left it").add(fd < 0 ? strerror(errno) : "");
			if (fd >= 0 && p.gen[0] < 0)
				close(fd);
			continue;
		}
		Player &p = add_player(uid);
		int at = openat(cls, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		Buf what, fix;
		if (at < 0 || fstat(at, &st) != 0 || wrong(st, uid, player_mode, path.view(), what, fix)) {
			p.why.add(path.view()).add(at < 0 ? ": " : " is not as the recorder left it (");
			p.why.add(at < 0 ? strerror(errno) : what.view()).add(at < 0 ? "" : ")");
		} else {
			for (int g = 0; g < 2; g++) {
				Buf file;
				file.add(path.view()).add('/').add(generation[g]);
				p.gen[g] = open_generation_of(at, generation[g], uid, class_mode_bits, file.view(), p.why);
			}
			// An index not as the recorder left it is only not used.
			Buf none;
			p.index = open_generation_of(at, index_name, uid, class_mode_bits, "", none);
		}
		if (at >= 0)
			close(at);
	}
	closedir(d);
}

// Whether the system makes a program that changes its privilege, as a
// judged program does by being execute-only, dumpable by its owner
// (fs.suid_dumpable 1): the player could trace one and write into what it
// prints.
bool traceable_programs()
{
	int fd = open("/proc/sys/fs/suid_dumpable", O_RDONLY | O_CLOEXEC);
	char b[2] = {};
	bool one = fd >= 0 && read(fd, b, sizeof b) > 0 && b[0] == '1';
	if (fd >= 0)
		close(fd);
	return one;
}

// Whether the caller, on a terminal, says yes to question.
bool agreed(std::string_view question)
{
	if (!isatty(0) || !write_all(2, question))
		return false;
	char c = 0, first = 0;
	while (read(0, &c, 1) == 1 && c != '\n')
		if (!first)
			first = c;
	return first == 'y' || first == 'Y';
}

// A new term: every player's record removed from the class record, each
// under its lock, so that no recorder is writing it as it goes.
void clear_class(int cls, bool yes)
{
	if (!teacher) {
		Buf name;
		not_cleared.add("only root and the teachers of the group ");
		not_cleared.add(teachers_group(name) ? name.view() : "that the settings name").add(" may clear the class record");
		return;
	}
	long n = 0;
	int listed = dup(cls);
	DIR *d = listed >= 0 ? fdopendir(listed) : nullptr;
	for (struct dirent *e; d && (e = readdir(d));)
		n += e->d_name[0] >= '0' && e->d_name[0] <= '9';
	Buf question;
	question.add("Remove the records of ").num(n).add(n == 1 ? " player from " : " players from ").add(class_record);
	question.add("? They cannot be brought back. [y/N] ");
	if (n > 0 && !yes && !agreed(question.view())) {
		not_cleared.add(isatty(0) ? "nothing was removed" : "the class record is cleared only when asked: add --yes");
		if (d)
			closedir(d);
		return;
	}
	cleared = 0;
	for (rewinddir(d); d && n > 0;) {
		struct dirent *e = readdir(d);
		if (!e)
			break;
		if (e->d_name[0] < '0' || e->d_name[0] > '9')
			continue;
		int at = openat(cls, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		if (at >= 0) {
			for (int i = 0; i < 300 && flock(at, LOCK_EX | LOCK_NB) != 0; i++) {
				struct timespec ten_ms = {0, 10000000};
				nanosleep(&ten_ms, nullptr);
			}
			int inner = dup(at);
			DIR *files = inner >= 0 ? fdopendir(inner) : nullptr;
			for (struct dirent *f; files && (f = readdir(files));)
				if (f->d_name[0] != '.')
					unlinkat(at, f->d_name, 0);
			if (files)
				closedir(files);
			close(at);
		}
		cleared += unlinkat(cls, e->d_name, at >= 0 ? AT_REMOVEDIR : 0) == 0;
	}
	if (d)
		closedir(d);
}

}  // namespace

void class_open(Want w, bool yes)
{
	open_standard();
	// Nothing of the player's may look into this process, then or later.
	prctl(PR_SET_DUMPABLE, 0);
	gid_t egid = getegid();
	if (w == Want::none || class_record.empty())
		return;
	if (egid == getgid()) {
		// Installed for a class, the recorder lacks its group: a package
		// half installed, or a mode changed by hand.
		struct stat st;
		char self[4096];
		ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
		if (stat(PACIFICA_CLASS_RECORD, &st) == 0 && n > 0) {
			self[n] = '\0';
			in_class = true;
			refusal.add("the recorder ").add(self).add(" is not set-group-id games, so the class record ");
			refusal.add(class_record).add(" cannot be written; a teacher can mend it: sudo chown root:games ");
			refusal.add(self).add(" && sudo chmod 2755 ").add(self);
		}
		return;
	}
	in_class = true;
	// The programs and the settings are found beside the recorder's name:
	// run by another name of its file, a hard link that a player could lay
	// beside programs of their own where the system lets them, it would
	// judge by those.
	char installed[PATH_MAX], self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	self[n > 0 ? n : 0] = '\0';
	if (!realpath(PACIFICA_RECORDER_PATH, installed) || strcmp(self, installed) != 0) {
		// A copy of the package unpacked where no class record is, as a
		// teacher tries it, plays in the home.
		struct stat st;
		if (stat(PACIFICA_CLASS_RECORD, &st) != 0) {
			in_class = false;
			return;
		}
		refusal.add("the class record is written only by ").add(PACIFICA_RECORDER_PATH).add(", not by ");
		shown(refusal, self);
		return;
	}
	games = egid;
	if (w == Want::play && traceable_programs()) {
		refusal.add("the system lets players trace the programs that judge their runs (fs.suid_dumpable is 1), so ");
		refusal.add("the class record cannot witness them; a teacher can mend it: sudo sysctl fs.suid_dumpable=0");
		return;
	}
	int cls = open(PACIFICA_CLASS_RECORD, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	struct stat st;
	if (cls < 0 && short_of_room(class_record, errno))
		return;
	if (cls < 0 || fstat(cls, &st) != 0 || st.st_uid != 0 || st.st_gid != games || (st.st_mode & 07) != 0) {
		refuse(class_record, cls < 0 && errno != EACCES ? strerror(errno) : "its owner, group or mode",
		       Buf().add("sudo chown root:games ").add(class_record).add(" && sudo chmod 2770 ").add(class_record).view());
		if (cls >= 0)
			close(cls);
		return;
	}
	if (w == Want::clear) {
		teacher = is_teacher();
		clear_class(cls, yes);
		close(cls);
		return;
	}
	dir = open_player(cls, getuid(), w == Want::play);
	if (w == Want::report && (teacher = is_teacher()))
		open_class_records(cls);
	close(cls);
}

void class_drop()
{
	gid_t g = getgid(), r, e, s;
	// Root may take any group back; anyone else, once this is done, not
	// games.  The kernel sets a process that changes its group dumpable
	// as fs.suid_dumpable says, which may let the player trace it and
	// take the record's descriptors: undumpable again, and checked.
	if (setresgid(g, g, g) != 0 || getresgid(&r, &e, &s) != 0 || r != g || e != g || s != g ||
	    (getuid() != 0 && games != static_cast<gid_t>(-1) && games != g && setegid(games) == 0) ||
	    prctl(PR_SET_DUMPABLE, 0) != 0 || prctl(PR_GET_DUMPABLE) != 0)
		_exit(127);
}

bool class_mode() { return in_class; }
std::string_view class_refusal() { return refusal.view(); }
bool class_teacher() { return teacher; }

long class_cleared(std::string_view &why)
{
	why = not_cleared.view();
	return cleared;
}

bool class_player(long i, uid_t &uid, int (&g)[3], std::string_view &why)
{
	if (i < 0 || i >= nplayers)
		return false;
	uid = players[i].uid;
	g[0] = players[i].gen[0], g[1] = players[i].gen[1], g[2] = players[i].index;
	why = players[i].why.view();
	return true;
}

// The record held, after the group is given up.

namespace {

// The shape of a line the recorder builds: no more than the bound, ending
// in TAB "." NL, with no other control character but TAB.
bool one_line(std::string_view s)
{
	if (s.size() < 3 || s.size() > line_bound || s.substr(s.size() - 3) != "\t.\n")
		return false;
	for (size_t i = 0; i + 1 < s.size(); i++)
		if ((static_cast<unsigned char>(s[i]) < 0x20 && s[i] != '\t') || s[i] == 0x7f)
			return false;
	return true;
}

bool lines_of_record(std::string_view s)
{
	while (!s.empty()) {
		size_t nl = s.find('\n');
		if (nl == s.npos || !one_line(s.substr(0, nl + 1)))
			return false;
		s.remove_prefix(nl + 1);
	}
	return true;
}

mode_t record_mode() { return in_class ? class_mode_bits : S_IFREG | home_mode_bits; }

// A generation as the recorder left it: a regular file of the player's
// with no other name; in the class record, of the group games, mode 0640.
bool sound(int fd, const char *name, Buf &why)
{
	struct stat st;
	Buf path, what, fix;
	path.add(where.view()).add('/').add(name);
	if (fstat(fd, &st) != 0)
		what.add(strerror(errno));
	else if (in_class)
		wrong(st, getuid(), class_mode_bits, path.view(), what, fix);
	else if (!S_ISREG(st.st_mode) || st.st_uid != getuid() || st.st_nlink != 1)
		what.add("not a regular file of yours with one name");
	if (!what.n)
		return true;
	if (in_class) {
		refuse(path.view(), what.view(), fix.view());
		why.add(refusal.view());
	} else {
		shown(why, path.view());
		why.add(" is not a regular file of yours, so no game can be remembered");
	}
	return false;
}

void close_generations()
{
	for (int &fd : gen)
		if (fd >= 0)
			close(fd), fd = -1;
	if (idx >= 0)
		close(idx), idx = -1;
}

// The index as the recorder leaves it, as the record is; anything else
// is not read, and is replaced at the next line.
bool index_sound(int fd)
{
	struct stat st;
	Buf what, fix;
	if (fstat(fd, &st) != 0)
		return false;
	if (in_class)
		return !wrong(st, getuid(), class_mode_bits, "", what, fix);
	return S_ISREG(st.st_mode) && st.st_uid == getuid() && st.st_nlink == 1;
}

void open_index()
{
	int fd = openat(dir, index_name, (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd >= 0 && !index_sound(fd))
		close(fd), fd = -1;
	idx = fd;
}

// A new index, with the record's mode whatever the umask, in place of
// whatever has the name.
bool make_index()
{
	unlinkat(dir, index_name, 0);
	mode_t old = umask(0);
	int fd = openat(dir, index_name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, record_mode() & 0777);
	umask(old);
	if (fd >= 0 && !index_sound(fd)) {
		close(fd);
		unlinkat(dir, index_name, 0);
		fd = -1;
	}
	idx = fd;
	return fd >= 0;
}

// Why the generation name, there, could not be opened, said.
bool unopened(const char *name, Buf &why)
{
	int was = errno;
	Buf path, what, fix;
	path.add(where.view()).add('/').add(name);
	struct stat st;
	if (in_class) {
		bool odd = fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
		           wrong(st, getuid(), class_mode_bits, path.view(), what, fix);
		if (!short_of_room(path.view(), was))
			refuse(path.view(), odd ? what.view() : strerror(was), odd ? fix.view() : "");
		why.add(refusal.view());
	} else {
		shown(why, path.view());
		why.add(" is not a regular file of yours, so no game can be remembered");
	}
	return false;
}

// The generations in the directory; the current one made when create is
// set, with the record's mode whatever the umask.
bool open_generations(bool create, Buf &why)
{
	close_generations();
	int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
	mode_t old = umask(0);
	int fd = openat(dir, "record", flags | O_RDWR | O_APPEND | (create ? O_CREAT | O_EXCL : 0), record_mode() & 0777);
	if (fd < 0 && create && errno == EEXIST)
		fd = openat(dir, "record", flags | O_RDWR | O_APPEND);
	umask(old);
	writable = fd >= 0;
	if (fd < 0 && !in_class && (errno == EACCES || errno == EROFS))
		fd = openat(dir, "record", flags | O_RDONLY);
	if (fd < 0 && errno == ENOENT)
		return false;
	if (fd < 0)
		return unopened("record", why);
	if (!sound(fd, "record", why)) {
		close(fd);
		writable = false;
		return false;
	}
	gen[0] = fd;
	// A previous generation that is there but cannot be opened (out of
	// descriptors, say) is not one that is not there: the games that only
	// it holds would be begun again.
	fd = openat(dir, "record.1", flags | O_RDONLY);
	if (fd < 0 && errno != ENOENT) {
		unopened("record.1", why);
		close_generations();
		return false;
	}
	if (fd >= 0 && !sound(fd, "record.1", why)) {
		close(fd);
		close_generations();
		return false;
	}
	gen[1] = fd;
	open_index();
	return true;
}

// Another recorder may have begun a new generation since this one opened
// the record: the lock makes sure that it is written to the current one.
bool current()
{
	struct stat a, b;
	if (gen[0] >= 0 && fstatat(dir, "record", &a, AT_SYMLINK_NOFOLLOW) == 0 && fstat(gen[0], &b) == 0 &&
	    a.st_dev == b.st_dev && a.st_ino == b.st_ino)
		return true;
	Buf why;
	return open_generations(false, why);
}

}  // namespace

void rec_home(int fd, std::string_view path)
{
	if (dir >= 0)
		close(dir);
	dir = fd;
	where.clear();
	where.add(path);
	rec_path_buf.clear();
}

bool rec_open(bool create, Buf &why)
{
	if (refusal.n) {
		why.add(refusal.view());
		return false;
	}
	if (gen[0] >= 0)
		return true;
	return dir >= 0 && open_generations(create, why);
}

bool rec_held() { return gen[0] >= 0; }
bool rec_writable() { return gen[0] >= 0 && writable; }

std::string_view rec_path()
{
	if (!rec_path_buf.n && where.n)
		rec_path_buf.add(where.view()).add("/record");
	return rec_path_buf.view();
}

bool rec_holds(int fd)
{
	struct stat a, b;
	if (fstat(fd, &a) != 0)
		return false;
	auto same = [&](int held) { return held >= 0 && fstat(held, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino; };
	if (same(dir) || same(gen[0]) || same(gen[1]) || same(idx))
		return true;
	for (long i = 0; i < nplayers; i++)
		if (same(players[i].gen[0]) || same(players[i].gen[1]) || same(players[i].index))
			return true;
	return false;
}

off_t rec_size(int g)
{
	struct stat st;
	return rec_stat(g, st) ? st.st_size : 0;
}

bool rec_stat(int g, struct stat &st) { return g >= 0 && g < 2 && gen[g] >= 0 && fstat(gen[g], &st) == 0; }

bool rec_read(int g, char *to, size_t n, off_t at)
{
	return g >= 0 && g < 2 && gen[g] >= 0 && pread(gen[g], to, n, at) == static_cast<ssize_t>(n);
}

bool rec_lock()
{
	if (dir < 0)
		return false;
	// A recorder that another stopped, holding the lock, is waited for
	// three seconds; then what waits is not recorded, and said so.
	for (int i = 0; i < 300; i++) {
		if (flock(dir, LOCK_EX | LOCK_NB) == 0) {
			locked = true;
			return current() || (rec_unlock(), false);
		}
		if (errno != EWOULDBLOCK && errno != EINTR)
			return false;
		struct timespec ten_ms = {0, 10000000};
		nanosleep(&ten_ms, nullptr);
	}
	errno = EWOULDBLOCK;
	return false;
}

void rec_unlock()
{
	if (dir >= 0)
		flock(dir, LOCK_UN);
	locked = false;
}

namespace {

// A write past the player's file size limit fails with EFBIG instead of
// ending the recorder.
struct Quiet {
	struct sigaction old;
	Quiet()
	{
		struct sigaction ign = {};
		ign.sa_handler = SIG_IGN;
		sigaction(SIGXFSZ, &ign, &old);
	}
	~Quiet() { sigaction(SIGXFSZ, &old, nullptr); }
};

// s written to fd at its end, or the file cut back to the size it had.
int append_or_cut(int fd, std::string_view s, off_t before)
{
	Quiet quiet;
	if (write_all(fd, s))
		return 0;
	int why = errno ? errno : EIO;
	if (ftruncate(fd, before) != 0)
		why = errno;
	return why;
}

}  // namespace

int rec_append(std::string_view line)
{
	struct stat st;
	if (!rec_writable())
		return EBADF;
	if (!one_line(line))
		return EINVAL;
	if (fstat(gen[0], &st) != 0)
		return errno;
	if (st.st_size + static_cast<off_t>(line.size()) + 1 > generation_bound)
		return EFBIG;
	// A last line cut short, by a recorder killed as it wrote, is ended,
	// so that it does not swallow this one.
	char last = '\n';
	Buf b;
	if (st.st_size > 0 && (pread(gen[0], &last, 1, st.st_size - 1) != 1 || last != '\n'))
		b.add('\n');
	b.add(line);
	return append_or_cut(gen[0], b.view(), st.st_size);
}

void rec_view(std::string_view view)
{
	if (dir < 0 || !rec_writable())
		return;
	mode_t old = umask(0);
	int fd = openat(dir, "view", O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, record_mode() & 0777);
	umask(old);
	struct stat st;
	if (fd < 0)
		return;
	// Written in place, never through a link or into anything but a file
	// of its own.
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
		Quiet quiet;
		if (pwrite(fd, view.data(), view.size(), 0) == static_cast<ssize_t>(view.size()))
			static_cast<void>(ftruncate(fd, view.size()));
		// Later than any time a shell's last look could have set, and than
		// the write before, however close together they come: taken once
		// the view is written, since a shell that looked before then read
		// what was there before.
		struct timespec t[2];
		clock_gettime(CLOCK_REALTIME, &t[1]);
		if (t[1].tv_sec < st.st_mtim.tv_sec ||
		    (t[1].tv_sec == st.st_mtim.tv_sec && t[1].tv_nsec <= st.st_mtim.tv_nsec)) {
			t[1] = st.st_mtim;
			if (++t[1].tv_nsec == 1000000000)
				t[1].tv_sec++, t[1].tv_nsec = 0;
		}
		t[0].tv_nsec = UTIME_OMIT;
		futimens(fd, t);
	}
	close(fd);
}

int rec_view_open()
{
	if (dir < 0)
		return -1;
	int fd = openat(dir, "view", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
		close(fd), fd = -1;
	return fd;
}

int rec_rotate(std::string_view seed)
{
	if (!rec_writable())
		return EBADF;
	if (!lines_of_record(seed) || seed.size() > static_cast<size_t>(generation_bound) / 2)
		return EINVAL;
	// A new generation left by a recorder that died making it is of no use.
	unlinkat(dir, "record.new", 0);
	mode_t old = umask(0);
	int fd = openat(dir, "record.new", O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, record_mode() & 0777);
	umask(old);
	if (fd < 0)
		return errno;
	int why = append_or_cut(fd, seed, 0);
	if (!why && renameat2(dir, "record.new", dir, "record", RENAME_EXCHANGE) == 0) {
		// Were this cut short, record.new would hold the previous
		// generation, whose games' states the new one holds.
		renameat(dir, "record.new", dir, "record.1");
	} else if (!why && (errno == EINVAL || errno == ENOSYS)) {
		if (renameat(dir, "record", dir, "record.1") != 0 || renameat(dir, "record.new", dir, "record") != 0)
			why = errno;
	} else if (!why) {
		why = errno;
	}
	if (why) {
		unlinkat(dir, "record.new", 0);
		close(fd);
		return why;
	}
	if (gen[1] >= 0)
		close(gen[1]);
	gen[1] = gen[0];
	gen[0] = fd;
	return 0;
}

off_t rec_index_size()
{
	struct stat st;
	return idx >= 0 && fstat(idx, &st) == 0 ? st.st_size : -1;
}

bool rec_index_read(char *to, size_t n, off_t at) { return idx >= 0 && pread(idx, to, n, at) == static_cast<ssize_t>(n); }

bool rec_index_write(std::string_view s, off_t at)
{
	if (!locked || !rec_writable() || (idx < 0 && !make_index()))
		return false;
	Quiet quiet;
	while (!s.empty()) {
		ssize_t n = pwrite(idx, s.data(), s.size(), at);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		s.remove_prefix(n);
		at += n;
	}
	return true;
}

bool rec_index_cut()
{
	return locked && rec_writable() && (idx >= 0 || make_index()) && ftruncate(idx, 0) == 0;
}
