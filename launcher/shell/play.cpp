// Starting a game: the playing directory found, refused in one line, or
// its game begun or resumed in the record; the welcome; then the game
// shell, bash on the game's start-up file.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "classrec.hpp"
#include "record/record.hpp"
#include "shell/verbs.hpp"
#include "util/conf.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

pid_t game_shell = -1;

// A signal that would end the game, passed on to the game shell, which
// then ends as it would have.
void pass_on(int sig)
{
	if (game_shell > 0)
		kill(game_shell, sig);
}

// The longest name of a playing directory, escaped, that a line of the
// record takes.
constexpr size_t dir_bound = 2048;

[[noreturn]] void usage_error(std::string_view what, std::string_view arg)
{
	Buf b;
	b.add("pacifica: ").add(what).add(arg).add('\n').add(usage_text);
	err(b.view());
	exit(2);
}

[[noreturn]] void refuse(std::string_view before, std::string_view name, std::string_view after)
{
	Buf b;
	b.add(before);
	shown(b, name);
	b.add(after);
	die(b.view());
}

// yesno: asks on a terminal; anywhere else the answer is no.
bool yesno(std::string_view question)
{
	if (!isatty(0))
		return false;
	Buf q;
	q.add(question).add(" [y/N] ");
	err(q.view());
	char c = 0, first = 0;
	while (read(0, &c, 1) == 1 && c != '\n')
		if (!first)
			first = c;
	return first == 'y' || first == 'Y';
}

// Makes path and the directories above it that are missing, or, failing,
// leaves none of them behind.
void make_dir(const char *path, std::string_view name)
{
	Buf p;
	p.add(path);
	char *made[256];
	int n = 0;
	struct stat st;
	while (n < 256 && lstat(p.p, &st) != 0) {
		made[n++] = strdup(p.p);
		char *slash = strrchr(p.p, '/');
		if (!slash || slash == p.p)
			break;
		*slash = '\0';
	}
	for (int i = n - 1; i >= 0; i--) {
		if (mkdir(made[i], 0777) != 0 && errno != EEXIST) {
			int why = errno;
			for (int j = i + 1; j < n; j++)
				rmdir(made[j]);
			refuse("cannot make ", name, Buf().add(": ").add(strerror(why)).view());
		}
	}
	for (int i = 0; i < n; i++)
		free(made[i]);
}

// Root plays only where nobody else could lay links for the programs to
// write through: in a directory of root's own, below one of root's own.
bool owned_by_root(const char *path)
{
	Buf p;
	p.add(path);
	struct stat st;
	while (lstat(p.p, &st) != 0) {
		char *slash = strrchr(p.p, '/');
		if (!slash)
			return false;
		*(slash == p.p ? slash + 1 : slash) = '\0';
	}
	return stat(p.p, &st) == 0 && st.st_uid == 0;
}

// A directory that cannot be read is not taken for empty.
bool has_entries()
{
	int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
	if (!d)
		die(Buf().add("cannot read the playing directory: ").add(strerror(errno)).view());
	bool any = false;
	while (!any)
		if (struct dirent *e = readdir(d))
			any = strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0;
		else
			break;
	closedir(d);
	return any;
}

// Whether the working directory holds what only a game of pacifica's
// leaves: Jean or the Grob, known by what they say, where the steps put
// them; the alert; the stronghold.  Its record may have been cleared for
// a new term.
bool holds_game_files()
{
	auto says = [](std::string_view name, std::string_view text) {
		int fd = openat(AT_FDCWD, Buf().add(name).p, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
		struct stat st;
		char b[256];
		ssize_t got = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, b, sizeof b) : -1;
		if (fd >= 0)
			close(fd);
		std::string_view s(b, got > 0 ? got : 0);
		return s.size() > text.size() && s.substr(0, s.find('\n')) == text;
	};
	struct stat st;
	std::string_view stronghold = story::stronghold.substr(0, story::stronghold.find('/', story::stronghold.find('/') + 1));
	bool any = fstatat(AT_FDCWD, Buf().add(story::alert).p, &st, AT_SYMLINK_NOFOLLOW) == 0 ||
	           (fstatat(AT_FDCWD, Buf().add(stronghold).p, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode));
	for (const story::Want &w : story::wants)
		any |= says(w.path, w.prop) || says(w.path.substr(w.path.rfind('/') + 1), w.prop);
	return any;
}

// Whether the working directory is the player's home, which is never set
// aside.
bool is_home()
{
	struct stat here, home;
	const char *h = getenv("HOME");
	if (stat(".", &here) != 0)
		return true;
	if (h && h[0] == '/' && stat(h, &home) == 0 && home.st_dev == here.st_dev && home.st_ino == here.st_ino)
		return true;
	struct passwd *pw = getpwuid(getuid());
	return pw && pw->pw_dir && stat(pw->pw_dir, &home) == 0 && home.st_dev == here.st_dev && home.st_ino == here.st_ino;
}

// The name a game in dir is set aside under: dir.1, or the first of
// dir.2, ... that is free, and is no game's place in the record: a game
// whose directory was deleted is still played there.
void aside_name(Buf &aside, const char *dir)
{
	struct stat st;
	Buf escaped;
	Game g;
	for (int n = 1;; n++) {
		aside.clear();
		aside.add(dir).add('.').num(n);
		escaped.clear();
		escape(escaped, aside.view());
		if (lstat(aside.p, &st) != 0 && !find_dir(escaped.view(), g))
			break;
	}
}

// A game the record does not know, its record cleared perhaps: set
// aside, never played on nor deleted.
bool unknown_game()
{
	struct stat here;
	return has_entries() && holds_game_files() && stat(".", &here) == 0 && here.st_uid == geteuid() && !is_home();
}

[[noreturn]] void refuse_unknown(const char *cwd, std::string_view name)
{
	Buf again, aside, said;
	back_command(again, cwd);
	aside_name(aside, cwd);
	said.add(" holds a game that the record does not know; 'pacifica --new").add(again.view().substr(8));
	said.add("' sets it aside as ");
	shown(said, aside.view());
	refuse("", name, said.add(", deleting nothing, and begins a new one").view());
}

// How a game's playing directory stands when it is resumed.
enum class Found { as_left, emptied, deleted };

// The welcome, in one write; on a terminal its long lines are broken at
// blanks, as the story's are.
void welcome(const Game &g, std::string_view game, std::string_view back, bool fresh, Found found)
{
	Buf b;
	if (fresh) {
		b.add("Welcome to Pacifica, a story played with the commands of your shell.\n");
		b.add("Your playing directory is ").add(game).add(".\n");
	} else if (g.on() == story::nsteps) {
		b.add("Welcome back to Pacifica.  Your game in ").add(game).add(" is finished.\n");
	} else {
		b.add("Welcome back to Pacifica.  Your game is in ").add(game);
		if (found == Found::deleted)
			b.add(", but the directory was deleted: it is made again, empty.  The steps done still count.\n");
		else if (found == Found::emptied)
			b.add(", but the directory is empty now: what was made there is gone.  The steps done still count.\n");
		else
			b.add(", as you left it.\n");
		b.num(g.ndone()).add(" of ").num(story::nsteps).add(" steps done.\n");
		b.add(story::steps[g.on()].next).add('\n');
	}
	b.add('\n');
	steps_map(b, g);
	b.add("'steps' shows them again, 'hint' helps when you are stuck, 'help' lists the\n");
	command_said(b.add("game's commands and 'exit' leaves;"), " this comes back later", back, "comes back later.");
	if (fresh)
		b.add("Type 'prologue' to begin.\n");
	else
		b.add("To start over, leave and type:\n    pacifica --new").add(back.substr(8)).add('\n');
	show(1, b.view());
}

// A record still empty takes over the journal and lists of earlier
// versions in the home before the playing directory is looked at, so that
// the games they hold are known.
void take_over_if_new(Buf &why)
{
	if (rec_held() && rec_size(0) + rec_size(1) > 0)
		return;
	Buf dir, none;
	int at = state_dir(false, none, dir);
	if (at < 0)
		return;
	bool old = faccessat(at, "journal", F_OK, AT_SYMLINK_NOFOLLOW) == 0 ||
	           faccessat(at, "games", F_OK, AT_SYMLINK_NOFOLLOW) == 0;
	if (old && open_record(true, why) && rec_writable())
		take_over(at);
	close(at);
}

}  // namespace

int cmd_play(int argc, char **argv)
{
	bool new_game_wanted = false, yes = false, no_hints = false;
	const char *arg = nullptr;
	int nargs = 0;
	const char *extra = nullptr;
	for (int i = 1; i < argc; i++) {
		std::string_view a = argv[i];
		if (a == "--") {
			for (i++; i < argc; i++, nargs++)
				nargs ? (void)(extra = extra ? extra : argv[i]) : (void)(arg = argv[i]);
			break;
		}
		if (a == "--new")
			new_game_wanted = true;
		else if (a == "--yes")
			yes = true;
		else if (a == "--no-hints")
			no_hints = true;
		else if (a.size() > 1 && a[0] == '-')
			usage_error("unknown option: ", a);
		else if (nargs++ == 0)
			arg = argv[i];
		else if (!extra)
			extra = argv[i];
	}
	if (extra)
		usage_error("unexpected argument: ", extra);
	if (yes && !new_game_wanted)
		usage_error("--yes goes with --new", "");
	if (getenv("PACIFICA_GAME")) {
		Buf why;
		Game g;
		open_record(false, why);
		if (game_number() > 0 && find_game(game_number(), g)) {
			Buf dir;
			unescape(dir, g.dir.view());
			refuse("you are already in the game, in ", dir.view(), "; 'exit' leaves it");
		}
		die("you are already in a game; 'exit' leaves it");
	}
	Buf hints_setting;
	bool hints = !no_hints && !(setting("hints", hints_setting) && hints_setting.view() == "off");
	for (std::string_view p : story::programs) {
		Buf path;
		path.add(libexec.view()).add('/').add(p);
		if (access(path.p, X_OK) != 0)
			die(Buf().add("the game's program ").add(p).add(" is missing from ").add(libexec.view()).view());
	}

	Buf dir;
	if (arg) {
		dir.add(arg);
	} else {
		const char *home = getenv("HOME");
		if (!home || !*home)
			die("HOME is not set; name the playing directory: pacifica DIR");
		if (home[0] != '/')
			die("HOME is not an absolute path; name the playing directory: pacifica DIR");
		dir.add(home).add("/pacifica");
	}
	Buf shown_name;
	shown(shown_name, dir.view());
	if (dir.n == 0)
		die("the playing directory cannot be an empty name");
	if (dir.n >= 4096)
		die("the name of the playing directory is too long");
	// A relative name is never an option, nor found through CDPATH.
	if (dir.p[0] != '/') {
		Buf rel;
		rel.add("./").add(dir.view());
		dir.clear();
		dir.add(rel.view());
	}

	Buf why;
	// A game kept anywhere but in the class record would be one that the
	// teacher never sees: a class record that is not as the recorder left
	// it is said, with its fix, and no game is played.
	if (class_refusal().size())
		die(class_refusal());
	if (!open_record(false, why) && class_refusal().size())
		die(class_refusal());
	if (why.n && arg)
		warn(why.add("; playing on").view());
	take_over_if_new(why);

	struct stat st;
	bool root = geteuid() == 0, was_there, is_dir, readable;
	// A directory that goes between these looks at it is being set aside
	// by another start, which makes it anew under the record's lock: it is
	// looked at again once that start is done.
	for (int tries = 0;; tries++) {
		errno = 0;
		was_there = lstat(dir.p, &st) == 0;
		is_dir = was_there && stat(dir.p, &st) == 0 && S_ISDIR(st.st_mode);
		readable = is_dir && access(dir.p, R_OK | X_OK) == 0;
		if (!was_there || readable || errno != ENOENT || tries > 0)
			break;
		Locked l;
	}
	if (was_there) {
		if (!is_dir)
			refuse("", shown_name.view(), " is not a directory; give a new or empty one");
		if (!readable)
			refuse("cannot read the directory ", shown_name.view(), "");
		if (root && st.st_uid != 0)
			refuse("", shown_name.view(), " belongs to another user; root plays only in a directory of its own");
	} else {
		if (root && !owned_by_root(dir.p))
			refuse("", shown_name.view(),
			       " would lie in a directory of another user's; root plays only in a directory of its own");
		make_dir(dir.p, shown_name.view());
	}
	// Another start may be setting the game there aside, between taking it
	// away and making the directory anew: it does both under the record's
	// lock.
	bool entered = chdir(dir.p) == 0;
	if (!entered && errno == ENOENT && was_there) {
		Locked l;
		entered = chdir(dir.p) == 0;
	}
	if (!entered)
		refuse("cannot enter ", shown_name.view(), "");
	char cwd[PATH_MAX];
	if (!getcwd(cwd, sizeof cwd))
		refuse("cannot enter ", shown_name.view(), "");
	Buf game, escaped;
	shown(game, cwd);
	escape(escaped, cwd);
	if (escaped.n > dir_bound)
		die("the name of the playing directory is too long to be recorded");

	Game g;
	// Asked before the record's lock is taken, as the answer may be long
	// in coming; decided again under it.
	bool known = find_dir(escaped.view(), g), empty = !has_entries();
	bool unknown = !known && unknown_game();
	if (!empty && !known && !unknown)
		refuse("", shown_name.view(), " is not empty and holds no game of pacifica's; give a new or empty directory");
	if (unknown && !new_game_wanted)
		refuse_unknown(cwd, shown_name.view());
	if (new_game_wanted && (known || unknown) && !yes) {
		if (!isatty(0))
			refuse("the game in ", cwd, " is set aside only when asked: add --yes");
		if (!yesno(Buf().add("Set the game in ").add(game.view()).add(" aside and begin a new one?").view()))
			refuse("the game in ", cwd, " is kept as it was");
	}

	// In the home, the session's own record, in memory, for what the
	// record cannot take; it goes when the game shell does.
	if (!record_witnessed()) {
		int session = session_file();
		if (session >= 0 && fcntl(session, F_SETFD, 0) == 0)
			setenv("PACIFICA_SESSION", Buf().num(session).p, 1);
	}
	Buf none;
	if (!open_record(true, none) && none.n && !why.n && arg)
		warn(none.add("; playing on").view());
	if (class_refusal().size() || (record_witnessed() && none.n))
		die(class_refusal().size() ? class_refusal() : none.view());

	// Whether the directory's game is known, and what becomes of it, is
	// decided under the record's lock: two starts at once make one game.
	{
		Locked l;
		if (!l.held && record_witnessed())
			die(Buf().add("the class record's lock could not be taken (").add(strerror(errno)).add("); try again").view());
		// Another start may have set the directory aside meanwhile: it is
		// entered again by its name.
		if (chdir(cwd) != 0 && (mkdir(cwd, 0777) != 0 || chdir(cwd) != 0))
			refuse("cannot enter ", cwd, "");
		known = find_dir(escaped.view(), g);
		unknown = !known && unknown_game();
		if (has_entries() && !known && !unknown)
			refuse("", shown_name.view(), " is not empty and holds no game of pacifica's; give a new or empty directory");
		if (unknown && !new_game_wanted)
			refuse_unknown(cwd, shown_name.view());
		if (new_game_wanted && (known || unknown)) {
			Buf aside;
			aside_name(aside, cwd);
			Buf esc_aside, shown_aside;
			escape(esc_aside, aside.view());
			// A game the record knows under a name longer than a start
			// takes could be played no more.
			if (known && esc_aside.n > dir_bound)
				refuse("the game in ", cwd, " cannot be set aside: its new name would be too long to be recorded");
			if (chdir("/") != 0 || renameat2(AT_FDCWD, cwd, AT_FDCWD, aside.p, RENAME_NOREPLACE) != 0)
				refuse("cannot set the game in ", cwd, " aside");
			// A game whose setting aside the record did not take, which has
			// been said, is still in its directory as the record has it: one
			// begun there would be a second game of the same directory.
			if (known && !apply_and_write(g, "aside", esc_aside.view(), escaped.view())) {
				renameat2(AT_FDCWD, aside.p, AT_FDCWD, cwd, RENAME_NOREPLACE);
				exit(1);
			}
			shown(shown_aside, aside.view());
			show(1, Buf().add("The game in ").add(game.view()).add(" is set aside in ").add(shown_aside.view()).add(".\n").view());
			if (mkdir(cwd, 0777) != 0 && errno != EEXIST)
				refuse("cannot make ", cwd, " again");
			if (chdir(cwd) != 0)
				refuse("cannot enter ", cwd, "");
			known = false;
		}
		// A game the class record cannot take would be played for nothing:
		// the line that says so has been said.
		bool kept = known ? apply_and_write(g, "resumed", "") : l.held && begin_game(escaped.view(), g);
		if (!kept && record_witnessed())
			exit(1);
		if (!kept && !known)
			new_game(g, 1, escaped.view(), time(nullptr));
	}

	Buf back;
	back_command(back, cwd);
	// Every step done leaves something in the playing directory, so that
	// an empty one was emptied.
	Found found = !was_there ? Found::deleted : empty && g.ndone() > 0 ? Found::emptied : Found::as_left;
	welcome(g, game.view(), back.view(), !known, found);

	// What the game shell keeps.
	int on = g.on();
	Buf by_hand;
	by_hand.add(libexec.view()).add("/by-hand");
	if (setenv("PACIFICA_RECORDER", recorder.p, 1) != 0 || setenv("PACIFICA_GAME", Buf().num(g.number).p, 1) != 0 ||
	    setenv("PACIFICA_HINTS", hints ? "on" : "off", 1) != 0 || setenv("PACIFICA_DIR", cwd, 1) != 0 ||
	    setenv("PACIFICA_LIBEXEC", libexec.p, 1) != 0 ||
	    setenv("PACIFICA_PATH", libexec.view().find(':') == std::string_view::npos ? by_hand.p : "", 1) != 0 ||
	    setenv("PACIFICA_ON", Buf().add(on < story::nsteps ? story::steps[on].name : "finished").p, 1) != 0)
		die("the environment is full");
	// The game shell tells a change that any shell of the game made by the
	// view's time against the time of its own last look, which it keeps
	// in a file of its own; both above the descriptors a player numbers,
	// and named as bash reads them.  Without them, /dev/null for both: no
	// view is newer than the last look, and every prompt asks the record.
	int view = rec_view_open(), seen = memfd_create("pacifica-seen", MFD_CLOEXEC), held[2] = {-1, -1};
	struct stat vs;
	if (view >= 0 && seen >= 0 && fstat(view, &vs) == 0) {
		// Just after the view's: the first prompt has nothing new to see.
		struct timespec t[2] = {{0, UTIME_OMIT}, vs.st_mtim};
		if (++t[1].tv_nsec == 1000000000)
			t[1].tv_sec++, t[1].tv_nsec = 0;
		held[0] = fcntl(view, F_DUPFD, 10), held[1] = fcntl(seen, F_DUPFD, 10);
		if (held[0] < 0 || held[1] < 0 || futimens(held[1], t) != 0) {
			for (int &fd : held)
				if (fd >= 0)
					close(fd), fd = -1;
		}
	}
	if (view >= 0)
		close(view);
	if (seen >= 0)
		close(seen);
	if (setenv("PACIFICA_VIEW", held[0] < 0 ? "/dev/null" : Buf().add("/dev/fd/").num(held[0]).p, 1) != 0 ||
	    setenv("PACIFICA_SEEN", held[1] < 0 ? "/dev/null" : Buf().add("/dev/fd/").num(held[1]).p, 1) != 0)
		die("the environment is full");
	if (setenv("PACIFICA_SHARE", share.p, 1) != 0 || setenv("PWD", cwd, 1) != 0)
		die("the environment is full");
	Buf rc;
	rc.add(share.view()).add("/gamerc.bash");
	if (access(rc.p, R_OK) != 0)
		die(Buf().add(rc.view()).add(": ").add(strerror(errno)).view());
	// Without PATH, bash would hand the game its own default, which ends in
	// the current directory.  The programs' links come first on it, unless
	// their directory's name has a colon, so that bash starts with them
	// there and has no statement to run for it.  In POSIX mode bash would
	// skip the start-up file; the game shell sets it again once started.
	if (!getenv("PATH"))
		setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
	if (libexec.view().find(':') == std::string_view::npos &&
	    setenv("PATH", Buf().add(by_hand.view()).add(':').add(getenv("PATH")).p, 1) != 0)
		die("the environment is full");
	// A line a quote left open goes on at PS2, which says how it ends;
	// bash keeps it, unless the player's own ~/.bashrc sets another.
	setenv("PS2", "[quote open: close it, or Ctrl-C cancels] > ", 0);
	if (const char *posix = getenv("POSIXLY_CORRECT")) {
		setenv("PACIFICA_POSIXLY_CORRECT", posix, 1);
		unsetenv("POSIXLY_CORRECT");
	}
	// What bash says of the terminal as it starts is none of the player's
	// business: standard error is put aside until the start-up file takes
	// it back.  Closed, it stays closed.
	unsetenv("PACIFICA_SAY");
	int saved = fcntl(2, F_DUPFD, 10);
	if (saved >= 0) {
		int null = open("/dev/null", O_WRONLY);
		if (null < 0 || dup2(null, 2) < 0)
			die("standard error: cannot put it aside");
		close(null);
		setenv("PACIFICA_SAY", Buf().num(saved).p, 1);
	}
	// The game shell is this process's child, so that its leaving is
	// written here when it ends, however it ends, and not by a recorder
	// that the shell would start anew on its way out.  A hangup or a TERM
	// that comes here is the shell's; a Ctrl-C or Ctrl-\ is not this
	// process's to die of.
	sigset_t ending, was;
	sigemptyset(&ending);
	for (int sig : {SIGHUP, SIGTERM, SIGINT, SIGQUIT})
		sigaddset(&ending, sig);
	sigprocmask(SIG_BLOCK, &ending, &was);
	const char *args[] = {"bash", "--rcfile", rc.p, "-i", "-s", nullptr};
	game_shell = fork();
	if (game_shell == 0) {
		sigprocmask(SIG_SETMASK, &was, nullptr);
		execv("/bin/bash", const_cast<char **>(args));
		if (saved >= 0)
			dup2(saved, 2);
		warn(Buf().add("/bin/bash: ").add(strerror(errno)).view());
		_exit(127);
	}
	int why_fork = errno;
	if (saved >= 0)
		dup2(saved, 2), close(saved);
	if (game_shell < 0)
		die(Buf().add("cannot start the game shell: ").add(strerror(why_fork)).view());
	// The shell's descriptors are the shell's: this process says what it
	// has to say on its own standard error again.
	for (int fd : held)
		if (fd >= 0)
			close(fd);
	unsetenv("PACIFICA_VIEW"), unsetenv("PACIFICA_SEEN"), unsetenv("PACIFICA_SAY");
	struct sigaction pass = {}, ignore = {};
	pass.sa_handler = pass_on;
	ignore.sa_handler = SIG_IGN;
	sigaction(SIGHUP, &pass, nullptr), sigaction(SIGTERM, &pass, nullptr);
	sigaction(SIGINT, &ignore, nullptr), sigaction(SIGQUIT, &ignore, nullptr);
	sigprocmask(SIG_SETMASK, &was, nullptr);
	int status;
	while (waitpid(game_shell, &status, 0) < 0)
		if (errno != EINTR)
			die(Buf().add("cannot wait for the game shell: ").add(strerror(errno)).view());
	cmd_leave();
	return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
