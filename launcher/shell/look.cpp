// What the hints see in the playing directory: where a step's prop has
// gone, known by what it says under any name, and how the names the
// player made differ from the ones the step wants; and the command lines
// that mend it from there, never one that throws the player's work away.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#include "shell/hints.hpp"
#include "util/names.hpp"

namespace {

// A directory of thousands of entries is not looked through to the end.
constexpr int most_entries = 4096, most_found = 16;

struct Found {
	Buf path;
	int depth;
};

struct Look {
	std::string_view text;		// the prop's first line
	std::string_view skip;		// a path not to count: the original a copy is made of
	Found found[most_found];
	int n = 0, entries = 0;
};

bool says(int at, const char *name, std::string_view text)
{
	int fd = openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return false;
	struct stat st;
	char b[256];
	ssize_t got = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, b, sizeof b) : -1;
	close(fd);
	std::string_view s(b, got > 0 ? got : 0);
	return s.substr(0, s.find('\n')) == text && s.size() > text.size();
}

// The regular files below at, three levels deep, that begin with the
// prop's text; links are not followed.
void search(Look &l, int at, Buf &path, int depth)
{
	int fd = openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
	if (!d) {
		if (fd >= 0)
			close(fd);
		return;
	}
	size_t mark = path.n;
	while (struct dirent *e = readdir(d)) {
		if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..") || ++l.entries > most_entries)
			continue;
		path.n = mark;
		path.add(mark ? "/" : "").add(e->d_name);
		struct stat st;
		if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
			continue;
		if (S_ISREG(st.st_mode) && l.n < most_found && path.view() != l.skip && says(dirfd(d), e->d_name, l.text)) {
			l.found[l.n].path.clear();
			l.found[l.n].path.add(path.view());
			l.found[l.n++].depth = depth;
		} else if (S_ISDIR(st.st_mode) && depth < 3) {
			int sub = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
			if (sub >= 0) {
				search(l, sub, path, depth + 1);
				close(sub);
			}
		}
	}
	path.n = mark;
	if (path.p)
		path.p[mark] = '\0';
	closedir(d);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// A name as the player may have meant it: no blanks, one case, - for _.
void plain(Buf &to, std::string_view s)
{
	for (char c : s)
		if (c != ' ' && c != '\t')
			to.add(c == '-' ? '_' : lower(c));
}

// The edits that turn a into b: letters added, dropped, changed, or two
// side by side swapped.
size_t distance(std::string_view a, std::string_view b)
{
	if (a.size() > 62 || b.size() > 62)
		return a == b ? 0 : 99;
	size_t d[64][64];
	for (size_t i = 0; i <= a.size(); i++)
		for (size_t j = 0; j <= b.size(); j++) {
			if (!i || !j) {
				d[i][j] = i + j;
				continue;
			}
			size_t best = d[i - 1][j - 1] + (a[i - 1] != b[j - 1]);
			best = d[i - 1][j] + 1 < best ? d[i - 1][j] + 1 : best;
			best = d[i][j - 1] + 1 < best ? d[i][j - 1] + 1 : best;
			if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] && d[i - 2][j - 2] + 1 < best)
				best = d[i - 2][j - 2] + 1;
			d[i][j] = best;
		}
	return d[a.size()][b.size()];
}

// Whether a player who made name meant wanted: another case, blanks, a
// typo of two letters (of one in a short name), a dot left out.
bool meant(std::string_view name, std::string_view wanted)
{
	Buf a, b;
	plain(a, name);
	plain(b, wanted[0] == '.' && name[0] != '.' ? wanted.substr(1) : wanted);
	return distance(a.view(), b.view()) <= (b.n <= 4 ? 1 : 2);
}

// How name differs from wanted, in a few words after a comma.
void differs(Buf &to, std::string_view name, std::string_view wanted)
{
	Buf bare;
	for (char c : name)
		if (c != ' ' && c != '\t')
			bare.add(c);
	if (bare.view() == wanted) {
		bool before = name[0] == ' ', after = name.back() == ' ';
		to.add(before && !after ? ", with no blank before it" : after && !before ? ", with no blank at its end"
		                                                                          : ", with no blank in it");
		return;
	}
	if (name.size() > 1 && name[0] == '-' && name.substr(1) == wanted) {
		to.add(", with no - before it");
		return;
	}
	if (wanted[0] == '.' && name == wanted.substr(1)) {
		to.add(", beginning with a dot");
		return;
	}
	if (name.size() == wanted.size()) {
		size_t cases = 0, other = 0, dashes = 0, at = 0;
		for (size_t i = 0; i < name.size(); i++)
			if (name[i] != wanted[i]) {
				(lower(name[i]) == lower(wanted[i]) ? cases : other)++;
				dashes += name[i] == '-' && wanted[i] == '_';
				at = i;
			}
		if (cases == 1 && other == 0) {
			bool capital = wanted[at] != lower(wanted[at]);
			to.add(capital ? ", with a capital " : ", with a small ").add(wanted[at]);
			return;
		}
		bool small = true;
		for (char c : wanted)
			small &= c == lower(c);
		if (cases && !other) {
			to.add(small ? ", all in small letters" : ", with its capitals and small letters just so");
			return;
		}
		if (!cases && other && other == dashes) {
			to.add(", with _ where you typed -");
			return;
		}
	}
	to.add(", spelled just so, letter for letter");
}

// A name as the player would type it on a command line; as an operand of
// a command, one that begins with a dash is given as ./-NAME, so that no
// command takes it for options.
void typed(Buf &to, std::string_view s, bool operand = false)
{
	bool safe = !s.empty() && printable(s);
	for (char c : s)
		safe &= (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("._-/+,:@%=", c);
	if (operand && !s.empty() && s[0] == '-')
		to.add("./");
	if (safe && (operand || s[0] != '-')) {
		to.add(s);
		return;
	}
	if (printable(s) && s.find('\'') == s.npos) {
		to.add('\'').add(s).add('\'');
		return;
	}
	quoted(to, s);
}

struct Mend {
	Mistake &m;
	void line(std::initializer_list<std::string_view> words, std::string_view what)
	{
		bool first = true;
		for (std::string_view w : words) {
			if (!first)
				m.mend.add(' ');
			if (first || w == "-p" || w == "-r")
				m.mend.add(w);
			else
				typed(m.mend, w, true);
			first = false;
		}
		m.mend.add(" # ").add(what).add('\n');
	}
};


// What a run of program does, as the hints say it.
std::string_view judges(std::string_view program)
{
	for (const story::Hint &h : story::hints)
		for (std::string_view lines = h.lines; !lines.empty();) {
			std::string_view line = lines.substr(0, lines.find('\n'));
			lines.remove_prefix(line.size() + (line.size() < lines.size()));
			if (line.substr(0, program.size() + 3) == Buf().add(program).add(" # ").view() &&
			    line.find("judges") != line.npos)
				return line.substr(program.size() + 3);
		}
	return "judges the step";
}

std::string_view parent_of(std::string_view path) { return path.substr(0, path.rfind('/')); }
std::string_view name_of(std::string_view path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

bool find_mistake(const char *base, int step, Mistake &m)
{
	const story::Want *w = nullptr;
	for (const story::Want &want : story::wants)
		if (want.step == story::steps[step].name)
			w = &want;
	if (!w)
		return false;
	m.want = w;
	std::string_view D = parent_of(w->path), N = name_of(w->path);
	bool copy = w->step == "duplicate";
	int at = open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (at < 0)
		return false;
	Buf dname, nname, dn;
	dname.add(D), nname.add(N), dn.add(w->path);
	struct stat st;
	bool d_dir = fstatat(at, dname.p, &st, 0) == 0 && S_ISDIR(st.st_mode);
	bool d_file = !d_dir && fstatat(at, dname.p, &st, AT_SYMLINK_NOFOLLOW) == 0;
	Look l;
	l.text = w->prop, l.skip = copy ? "Pacifica/Jean" : "";
	if (says(at, dn.p, w->prop) || (w->step == "retribute" && fstatat(at, "jail", &st, 0) == 0 && S_ISDIR(st.st_mode))) {
		close(at);
		return false;	// the prop is where it belongs, or the step's own hints tell the rest
	}
	Buf path;
	search(l, at, path, 1);
	// The prop the player moved: under a name like the place's first,
	// then anywhere but left where it was.
	int best = -1;
	bool left_here = false;
	for (int i = 0; i < l.n; i++) {
		std::string_view p = l.found[i].path.view();
		if (p == N) {
			left_here = !copy;
			continue;
		}
		if (best < 0 || (meant(p.substr(0, p.find('/')), D) && !meant(l.found[best].path.view().substr(0, l.found[best].path.view().find('/')), D)))
			best = i;
	}
	Mend mend{m};
	auto fill = [&](std::string_view kind, std::string_view found, std::string_view dir) {
		m.row = hint_row(kind);
		typed(m.found, found);
		m.dir.add(dir);
	};
	if (best < 0) {
		// Nothing moved: a directory made under a name like the place's?
		DIR *d = d_dir || d_file ? nullptr : fdopendir(dup(at));
		while (struct dirent *e = d ? readdir(d) : nullptr) {
			if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2])))
				continue;
			if (fstatat(at, e->d_name, &st, 0) != 0 || !S_ISDIR(st.st_mode) || !meant(e->d_name, D))
				continue;
			fill("misnamed", e->d_name, "");
			m.wanted.add(D);
			differs(m.differs, e->d_name, D);
			mend.line({"mv", e->d_name, D}, Buf().add("renames ").add(e->d_name).add(" to ").add(D).view());
			if (copy)
				mend.line({"cp", "Pacifica/Jean", Buf().add(D).add('/').view()}, Buf().add("copies Jean into ").add(D).view());
			else if (left_here)
				mend.line({"mv", N, Buf().add(D).add('/').view()}, Buf().add("moves ").add(w->name).add(" into ").add(D).view());
			else
				m.row = -1;
			break;
		}
		if (d)
			closedir(d);
		close(at);
		if (m.row < 0)
			return false;
		mend.line({story::steps[step].command}, judges(story::steps[step].command));
		return true;
	}
	// A copy's original, moved with its directory into the copy's.
	std::string_view origin = parent_of(l.skip);
	bool origin_gone = copy && fstatat(at, Buf().add(origin).p, &st, AT_SYMLINK_NOFOLLOW) != 0;
	close(at);
	std::string_view p = l.found[best].path.view();
	int depth = l.found[best].depth;
	std::string_view first = p.substr(0, p.find('/'));
	Buf into;
	into.add(D).add('/');
	if (depth == 1) {
		if (first == D || meant(first, D) || d_file) {
			// mv Jean Pacifica, with no directory Pacifica: a new name.
			fill("file-not-dir", first, "");
			mend.line({"mv", first, N}, Buf().add("gives ").add(w->name).add(" back the name ").add(N).view());
			if (d_file && first != D)
				m.row = -1;	// the place is a file that is no prop: the step's own hints tell it
		} else {
			fill("renamed", first, "");
			mend.line({"mv", first, N}, Buf().add("gives ").add(w->name).add(" back the name ").add(N).view());
		}
		if (m.row < 0)
			return false;
		if (!d_dir)
			mend.line({"mkdir", D}, Buf().add("makes the directory ").add(D).view());
		mend.line({"mv", N, into.view()}, Buf().add("moves ").add(w->name).add(" into ").add(D).view());
		left_here = false;	// the one left here went in with it
	} else if (depth == 2 && first != D) {
		std::string_view name = name_of(p);
		if (meant(first, D) && !d_dir) {
			fill("misnamed", first, "");
			m.wanted.add(D);
			differs(m.differs, first, D);
			mend.line({"mv", first, D}, Buf().add("renames ").add(first).add(" to ").add(D).view());
			if (name != N)
				mend.line({"mv", Buf().add(D).add('/').add(name).view(), w->path},
				          Buf().add("renames ").add(name).add(" to ").add(N).view());
		} else {
			fill(meant(first, D) ? "misnamed" : "elsewhere", meant(first, D) ? first : p, "");
			m.wanted.add(meant(first, D) ? D : w->path);
			if (meant(first, D))
				differs(m.differs, first, D);
			if (!d_dir)
				mend.line({"mkdir", D}, Buf().add("makes the directory ").add(D).view());
			mend.line({"mv", p, w->path}, Buf().add("moves ").add(w->name).add(" into ").add(D).view());
		}
	} else if (depth == 2) {
		std::string_view name = name_of(p);
		fill("misnamed-prop", name, D);
		m.wanted.add(N);
		differs(m.differs, name, N);
		mend.line({"mv", p, w->path}, Buf().add("renames ").add(name).add(" to ").add(N).view());
	} else {
		std::string_view middle = parent_of(p);
		std::string_view second = name_of(middle);
		if (first == D && origin_gone && middle.substr(D.size() + 1) == origin && name_of(p) == N) {
			for (const story::Want &want : story::wants)
				if (want.path == l.skip)
					m.want = &want;
			fill("inside", origin, D);
			mend.line({"mv", middle, "."}, Buf().add("moves ").add(origin).add(" out of ").add(D).add(", to here").view());
			mend.line({"cp", l.skip, into.view()}, Buf().add("copies Jean into ").add(D).view());
		} else if (first == D) {
			fill("too-deep", middle, "");
			m.wanted.add(w->path);
			mend.line({"mv", p, w->path}, Buf().add("moves ").add(w->name).add(" up, into ").add(D).view());
		} else if (second == D && !d_dir && !d_file) {
			fill("inside", D, first);
			Buf out;
			out.add(first).add('/').add(D);
			mend.line({"mv", out.view(), "."}, Buf().add("moves ").add(D).add(" out of ").add(first).add(", to here").view());
			if (name_of(p) != N)
				mend.line({"mv", Buf().add(D).add('/').add(name_of(p)).view(), w->path},
				          Buf().add("renames ").add(name_of(p)).add(" to ").add(N).view());
		} else {
			fill("elsewhere", p, "");
			m.wanted.add(w->path);
			if (!d_dir)
				mend.line({"mkdir", D}, Buf().add("makes the directory ").add(D).view());
			mend.line({"mv", p, w->path}, Buf().add("moves ").add(w->name).add(" into ").add(D).view());
		}
	}
	if (left_here && !copy)
		mend.line({"rm", N}, Buf().add("deletes the ").add(w->name).add(" left here: one is enough").view());
	mend.line({story::steps[step].command}, judges(story::steps[step].command));
	return m.row >= 0;
}

namespace {

// A free name to put path aside under, beside it: path.old, path.old2, ...
void aside_name(int at, std::string_view path, Buf &to)
{
	struct stat st;
	for (int n = 1; n < 100; n++) {
		to.clear();
		to.add(path).add(".old");
		if (n > 1)
			to.num(n);
		if (fstatat(at, to.p, &st, AT_SYMLINK_NOFOLLOW) != 0)
			return;
	}
}

// What stands where a directory belongs, in a word for the hint.
const char *kind(const struct stat &st)
{
	if (S_ISREG(st.st_mode))
		return "a file";
	return S_ISLNK(st.st_mode) ? "a symbolic link" : "neither file nor directory";
}

}  // namespace

int find_obstacles(const char *base, int step, Mistake &m, Buf *gone, int most)
{
	const story::Want *w = nullptr;
	for (const story::Want &want : story::wants)
		if (want.step == story::steps[step].name)
			w = &want;
	if (!w)
		return -1;
	// Where the step wants a directory, and its prop's file; a copy wants
	// the original's too, which it copies.
	struct Place {
		std::string_view path;
		const story::Want *want;
		bool dir;
	} places[4];
	int np = 0;
	for (const story::Want &want : story::wants)
		if (&want == w || (w->step == "duplicate" && want.step == "resettle")) {
			places[np++] = {parent_of(want.path), &want, true};
			places[np++] = {want.path, &want, false};
		}
	int at = open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (at < 0)
		return -1;
	Mend mend{m};
	int ngone = 0, props = 0, n = 0;
	for (int i = 0; i < np; i++) {
		Buf path, name;
		path.add(places[i].path);
		struct stat st, lst;
		if (fstatat(at, path.p, &lst, AT_SYMLINK_NOFOLLOW) != 0)
			continue;
		bool dir = fstatat(at, path.p, &st, 0) == 0 && S_ISDIR(st.st_mode);
		if (dir == places[i].dir)
			continue;
		const story::Want &want = *places[i].want;
		std::string_view N = name_of(want.path);
		name.add(N);
		if (n++ == 0) {
			m.want = &want;
			typed(m.found, places[i].path);
			if (places[i].dir)
				m.differs.add(" is ").add(kind(lst)).add(", not a directory, so nothing can go into it");
			else
				m.differs.add(" is a directory, where ").add(want.name).add(" must be a file");
		}
		// mv PROP DIR with no directory DIR: the prop under the
		// directory's name, given back its own when nothing else has it.
		bool top_free = fstatat(at, name.p, &st, AT_SYMLINK_NOFOLLOW) != 0 || says(at, name.p, want.prop);
		if (places[i].dir && S_ISREG(lst.st_mode) && says(at, path.p, want.prop) && top_free) {
			props++;
			mend.line({"mv", places[i].path, N}, Buf().add("gives ").add(want.name).add(" back the name ").add(N).view());
			if (want.step == "retribute" && fstatat(at, "jail", &st, 0) == 0 && S_ISDIR(st.st_mode))
				mend.line({"mv", "jail", places[i].path}, Buf().add("renames the jail to ").add(places[i].path).view());
			else
				mend.line({"mkdir", places[i].path}, Buf().add("makes the directory ").add(places[i].path).view());
			mend.line({"mv", N, Buf().add(places[i].path).add('/').view()},
			          Buf().add("moves ").add(want.name).add(" into ").add(places[i].path).view());
			continue;
		}
		Buf aside;
		aside_name(at, places[i].path, aside);
		mend.line({"mv", places[i].path, aside.view()},
		          Buf().add("puts ").add(places[i].path).add(" aside, as ").add(aside.view()).add(", all it holds kept").view());
		if (ngone < most)
			gone[ngone++].add(places[i].path);
	}
	close(at);
	if (n == 0)
		return -1;
	m.row = hint_row(props == n ? "file-not-dir" : "in-the-way");
	if (props == n)
		mend.line({story::steps[step].command}, judges(story::steps[step].command));
	// The lines for what is left once the rest is put aside are the
	// caller's, when nothing was mended in place.
	return props == 0 ? ngone : 0;
}

bool name_meant(std::string_view typed, Buf &line)
{
	// The game shell's own commands, besides the programs.
	static constexpr std::string_view own[] = {"confirm_shellwatch_message", "steps", "hint", "help", "exit"};
	size_t slash = typed.rfind('/');
	std::string_view path = slash == typed.npos ? "" : typed.substr(0, slash + 1);
	std::string_view name = typed.substr(path.size());
	if (name.empty() || name.size() > 62)
		return false;
	std::string_view best;
	size_t closest = 99;
	Buf a;
	plain(a, name);
	auto consider = [&](std::string_view command) {
		Buf b;
		plain(b, command);
		size_t d = distance(a.view(), b.view());
		if (d <= (b.n <= 4 ? 1 : 2) && d < closest)
			best = command, closest = d;
	};
	for (std::string_view p : story::programs)
		consider(p);
	for (std::string_view c : own)
		consider(c);
	if (best.empty() || (path.empty() && name == best))
		return false;
	if (!path.empty()) {
		line.add("The game's command is ").add(best).add(": type it without ");
		shown(line, path);
		line.add(" before it.");
	} else if (closest == 0) {
		shown(line, name);
		line.add(": command not found. The game's command is ").add(best);
		differs(line, name, best);
		line.add('.');
	} else {
		shown(line, name);
		line.add(": command not found. Did you mean the game's ").add(best).add('?');
	}
	return true;
}
