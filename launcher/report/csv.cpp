// The report as CSV (RFC 4180): one row per game for a spreadsheet, one
// row per student for a gradebook, and the rows of other machines read
// back to be merged.  A field a spreadsheet would take for a formula is
// neutralised with a leading "'", which reading takes off again.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "classrec.hpp"
#include "report/report.hpp"
#include "util/names.hpp"
#include "util/out.hpp"
#include "util/stamp.hpp"

namespace {

constexpr std::string_view formula = "=+-@\t\r'";

constexpr const char *header[] = {
	"player", "directory", "steps_done", "steps", "on", "runs_since_step", "began", "last_activity",
	"played_seconds", "why", "hints_since_step", "finished", "witness", "host",
};
constexpr int nheader = sizeof header / sizeof *header;

void field(Buf &b, std::string_view s, bool first = false)
{
	Buf shown_form;
	if (!printable(s)) {
		shown(shown_form, s);
		s = shown_form.view();
	}
	if (!first)
		b.add(',');
	bool neutral = !s.empty() && formula.find(s[0]) != formula.npos;
	if (!neutral && s.find_first_of("\",\r\n") == s.npos) {
		b.add(s);
		return;
	}
	b.add('"');
	if (neutral)
		b.add('\'');
	for (char c : s)
		b.add(c == '"' ? "\"\"" : std::string_view(&c, 1));
	b.add('"');
}

void number(Buf &b, long v) { b.add(',').num(v); }

void time_field(Buf &b, time_t t)
{
	b.add(',');
	if (t)
		stamp(b, t);
}

}  // namespace

void csv(Buf &b, const Rows &rows)
{
	for (int i = 0; i < nheader; i++)
		b.add(i ? "," : "").add(header[i]);
	for (const story::Step &s : story::steps)
		b.add(",done_").add(s.name);
	b.add(",home\r\n");
	for (long i = 0; i < rows.n; i++) {
		const Row &r = *rows.r[i];
		field(b, r.player.view(), true);
		field(b, r.dir.view());
		number(b, r.begun ? r.g.ndone() : 0);
		number(b, story::nsteps);
		b.add(',').add(r.on_name());
		if (!r.begun) {
			b.add(",,,,,,,,");	// runs to witness
			field(b, r.host.view());
			for (int s = 0; s <= story::nsteps; s++)
				b.add(',');
			b.add("\r\n");
			continue;
		}
		number(b, r.g.runs);
		time_field(b, r.g.began);
		time_field(b, r.g.time);
		number(b, r.g.active);
		field(b, r.stuck.view());
		number(b, r.g.hints);
		time_field(b, r.finished());
		b.add(',').add(r.witness);
		field(b, r.host.view());
		for (long d : r.g.done)
			time_field(b, d >= 0 ? r.g.began + d : 0);
		field(b, r.home.view());
		b.add("\r\n");
	}
}

// For a gradebook: the columns a Canvas export begins with, the login as
// the one both Canvas and Moodle can match a student by, then the points
// as the one assignment; no times, which a gradebook would take for an
// assignment of their own.
void per_student(Buf &b, const Rows &rows, bool points)
{
	b.add("Student,ID,SIS User ID,SIS Login ID,Section,Pacifica steps (of ").num(story::nsteps).add(")\r\n");
	if (points)
		b.add("Points Possible,,,,,").num(story::nsteps).add("\r\n");
	// A gradebook has no room for the table's ~: where there is a class
	// record, the students whose points count steps that no recorder
	// witnessed (a journal of an earlier version, a home's record, which
	// their players may have written) are named.
	Buf unwitnessed;
	long n = 0;
	each_player(rows, [&](long, long, long best, long) {
		const Row &r = *rows.r[best];
		Buf name;
		full_name(name, r.player.view());
		field(b, name.view(), true);
		b.add(",,");
		field(b, r.player.view());
		b.add(',');
		number(b, r.begun ? r.g.ndone() : 0);
		b.add("\r\n");
		if (class_mode() && r.begun && r.g.ndone() > 0 && strcmp(r.witness, "class") != 0) {
			unwitnessed.add(n++ ? ", " : "");
			shown(unwitnessed, r.player.view());
		}
	});
	if (n > 0)
		warn(Buf().add("the points of ").num(n).add(n == 1 ? " student count" : " students count")
		         .add(" steps that the recorder did not witness (~ in the table): ").add(unwitnessed.view()).view());
}

namespace {

// The fields of the record of CSV at the start of s, taken off it; false
// at its end or where it is not CSV.
bool next_record(std::string_view &s, Buf *fields, int &n, int max)
{
	n = 0;
	if (s.empty())
		return false;
	for (;;) {
		Buf f;
		if (!s.empty() && s[0] == '"') {
			size_t i = 1;
			for (;; i++) {
				if (i >= s.size())
					return false;
				if (s[i] == '"') {
					if (i + 1 < s.size() && s[i + 1] == '"') {
						f.add('"');
						i++;
						continue;
					}
					break;
				}
				f.add(s[i]);
			}
			s.remove_prefix(i + 1);
		} else {
			size_t end = s.find_first_of(",\r\n");
			end = end == s.npos ? s.size() : end;
			if (s.substr(0, end).find('"') != s.npos)
				return false;
			f.add(s.substr(0, end));
			s.remove_prefix(end);
		}
		std::string_view v = f.view();
		if (v.size() > 1 && v[0] == '\'' && formula.find(v[1]) != formula.npos)
			v.remove_prefix(1);
		if (n < max) {
			fields[n].clear();
			fields[n].add(v);
		}
		n++;
		if (!s.empty() && s[0] == ',') {
			s.remove_prefix(1);
			continue;
		}
		if (s.substr(0, 2) == "\r\n")
			s.remove_prefix(2);
		else if (!s.empty() && s[0] == '\n')
			s.remove_prefix(1);
		else if (!s.empty())
			return false;
		return true;
	}
}

bool time_of(std::string_view s, time_t &t)
{
	t = 0;
	return s.empty() || parse_stamp(s, t);
}


constexpr int ncolumns = nheader + story::nsteps;

// A row of the CSV as the report wrote it: every field as its header
// says, the steps done as the times of each say, and a student not begun
// with no game.
bool row_of(Row &r, const Buf *f, const int *at)
{
	auto v = [&](int c) { return f[at[c]].view(); };
	r.player.add(v(0));
	r.dir.add(v(1));
	r.host.add(v(13));
	r.begun = v(4) != "not begun";
	if (!r.begun) {
		bool empty = v(2) == "0" && v(1).empty() && v(3) == Buf().num(story::nsteps).view();
		for (int c = 5; c < ncolumns; c++)
			empty &= c == 13 || v(c).empty();
		return empty && !r.player.view().empty();
	}
	long number, steps;
	time_t t;
	bool ok = !r.player.view().empty() && time_of(v(6), r.g.began) && r.g.began && time_of(v(7), r.g.time) &&
	          to_number(v(5), r.g.runs) && to_number(v(8), r.g.active) && to_number(v(10), r.g.hints) &&
	          to_number(v(2), number) && to_number(v(3), steps) && steps == story::nsteps;
	for (int k = 0; ok && k < story::nsteps; k++) {
		ok = time_of(v(nheader + k), t) && (!t || t >= r.g.began);
		r.g.done[k] = t ? t - r.g.began : -1;
	}
	r.stuck.add(v(9));
	std::string_view w = v(12);
	r.witness = w == "class" ? "class" : w == "taken" ? "taken" : "home";
	return ok && (w == "class" || w == "taken" || w == "home") && number == r.g.ndone() && v(4) == r.on_name() &&
	       time_of(v(11), t) && t == r.finished();
}
}  // namespace

bool read_csv(Rows &rows, const char *file)
{
	Buf name, text;
	shown(name, file);
	int fd = open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		warn(Buf().add(name.view()).add(fd < 0 ? ": " : ": not a regular file").add(fd < 0 ? strerror(errno) : "").add("; not read").view());
		if (fd >= 0)
			close(fd);
		return false;
	}
	char b[65536];
	ssize_t got;
	while ((got = read(fd, b, sizeof b)) > 0)
		text.add(std::string_view(b, got));
	close(fd);
	if (got < 0) {
		warn(Buf().add(name.view()).add(": ").add(strerror(errno)).add("; not read").view());
		return false;
	}
	constexpr int most = ncolumns + 8;
	Buf f[most];
	int at[ncolumns], n;
	std::string_view all = text.view(), s = all;
	if (!next_record(s, f, n, most)) {
		warn(Buf().add(name.view()).add(":1: not a CSV of pacifica --report --csv; not read").view());
		return false;
	}
	for (int c = 0; c < ncolumns; c++) {
		Buf want;
		want.add(c < nheader ? header[c] : Buf().add("done_").add(story::steps[c - nheader].name).view());
		at[c] = -1;
		for (int k = 0; k < n && k < most; k++)
			if (f[k].view() == want.view())
				at[c] = k;
		if (at[c] < 0) {
			warn(Buf().add(name.view()).add(":1: not a CSV of pacifica --report --csv; not read").view());
			return false;
		}
	}
	// The home came later: a CSV of an earlier version has none.
	int home = -1;
	for (int k = 0; k < n && k < most; k++)
		if (f[k].view() == "home")
			home = k;
	rows.merged = true;
	long line = 1;
	size_t counted = 0;
	while (!s.empty()) {
		std::string_view before = s;
		for (; counted < all.size() - s.size(); counted++)
			line += all[counted] == '\n';
		Row r;
		bool parsed = next_record(s, f, n, most);
		if (!parsed) {
			// Past what is not CSV, the rest of the file is read from the
			// next line on.
			size_t nl = before.find('\n');
			s = nl == before.npos ? std::string_view() : before.substr(nl + 1);
		}
		if (!parsed || n < ncolumns || !row_of(r, f, at)) {
			rows.bad_rows++;
			warn(Buf().add(name.view()).add(":").num(line).add(": a row that does not fit the header; skipped").view());
			continue;
		}
		Row &to = rows.add();
		to.player.add(r.player.view());
		to.dir.add(r.dir.view());
		to.host.add(r.host.view());
		to.stuck.add(r.stuck.view());
		to.file.add(file);
		if (home >= 0 && home < n && r.begun)
			to.home.add(f[home].view());
		to.witness = r.witness;
		to.begun = r.begun;
		to.g.began = r.g.began, to.g.time = r.g.time;
		to.g.runs = r.g.runs, to.g.hints = r.g.hints, to.g.active = r.g.active;
		memcpy(to.g.done, r.g.done, sizeof to.g.done);
	}
	return true;
}

namespace {

int by_game(const void *a, const void *b)
{
	const Row *x = *static_cast<Row *const *>(a), *y = *static_cast<Row *const *>(b);
	if (int c = order(x->host.view(), y->host.view()))
		return c;
	if (int c = order(x->player.view(), y->player.view()))
		return c;
	if (x->begun != y->begun)
		return x->begun ? -1 : 1;
	if (int c = order(x->dir.view(), y->dir.view()))
		return c;
	if (x->g.began != y->g.began)
		return x->g.began < y->g.began ? -1 : 1;
	return x < y ? -1 : x > y;	// the order they were read in
}

bool same_game(const Row &x, const Row &y)
{
	return x.host.view() == y.host.view() && x.player.view() == y.player.view() && x.begun == y.begun &&
	       x.dir.view() == y.dir.view() && x.g.began == y.g.began;
}

// A machine's games as one file gives them.
struct Claim {
	std::string_view host, file;
	long games = 0;
	bool shared = false;	// a game of it is in a file read before
	bool first = false;	// the first file to name the host
};

}  // namespace

// Two files that name one host and share a game are the one machine,
// reported twice: each game counts once, as it stood last.  Two that name
// one host and share none are two machines of one name, cloned perhaps:
// they are told apart by file.
void drop_doubles(Rows &rows)
{
	Claim *claim = nullptr;
	long nclaims = 0;
	auto claim_of = [&](const Row &r) -> Claim & {
		for (long k = 0; k < nclaims; k++)
			if (claim[k].host == r.host.view() && claim[k].file == r.file.view())
				return claim[k];
		Claim *q = static_cast<Claim *>(realloc(static_cast<void *>(claim), (nclaims + 1) * sizeof *claim));
		if (!q)
			abort();
		claim = q;
		Claim &c = *new (&claim[nclaims++]) Claim;
		c.host = r.host.view(), c.file = r.file.view();
		c.first = true;
		for (long k = 0; k + 1 < nclaims; k++)
			c.first &= claim[k].host != c.host;
		return c;
	};
	long *which = static_cast<long *>(malloc((rows.n + 1) * sizeof(long)));
	if (!which)
		abort();
	for (long i = 0; i < rows.n; i++) {
		Claim &c = claim_of(*rows.r[i]);
		c.games += rows.r[i]->begun;
		which[i] = &c - claim;
	}
	// Sorted by game, then as read: a game's first row is from the first
	// file that gave it.
	Row **sorted = static_cast<Row **>(malloc((rows.n + 1) * sizeof *sorted));
	if (!sorted)
		abort();
	if (rows.n)
		memcpy(sorted, rows.r, rows.n * sizeof *sorted);
	if (rows.n > 1)
		qsort(sorted, rows.n, sizeof *sorted, by_game);
	for (long i = 1; i < rows.n; i++)
		if (sorted[i]->begun && same_game(*sorted[i], *sorted[i - 1]) && sorted[i]->file.view() != sorted[i - 1]->file.view())
			claim_of(*sorted[i]).shared = true;
	free(sorted);
	Buf *renamed = static_cast<Buf *>(calloc(nclaims + 1, sizeof(Buf)));
	if (!renamed)
		abort();
	for (long k = 0; k < nclaims; k++) {
		new (&renamed[k]) Buf;
		Claim &c = claim[k];
		long before = 0;
		for (long j = 0; j < k; j++)
			before += claim[j].host == c.host ? claim[j].games : 0;
		if (c.first || c.shared || !c.games || !before)
			continue;
		Buf host, file, first;
		shown(host, c.host);
		shown(file, c.file);
		for (long j = 0; j < k && !first.n; j++)
			if (claim[j].host == c.host)
				shown(first, claim[j].file);
		renamed[k].add(c.host).add(" (").add(c.file).add(')');
		Buf as;
		shown(as, renamed[k].view());
		warn(Buf().add(file.view()).add(" and ").add(first.view()).add(" both name the host ").add(host.view())
		             .add(" with different games; ").add(file.view()).add("'s are shown as ").add(as.view()).view());
	}
	// The claims look into the rows' names: none is renamed until all are
	// known.
	for (long i = 0; i < rows.n; i++)
		if (renamed[which[i]].n) {
			rows.r[i]->host.clear();
			rows.r[i]->host.add(renamed[which[i]].view());
		}
	free(which);
	for (long k = 0; k < nclaims; k++)
		renamed[k].~Buf();
	free(renamed);
	free(claim);
	// Each game once: the row of it that was played last.
	if (rows.n > 1)
		qsort(rows.r, rows.n, sizeof *rows.r, by_game);
	for (long i = 1, keep = 0; i < rows.n; i++) {
		if (!same_game(*rows.r[i], *rows.r[keep])) {
			keep = i;
			continue;
		}
		if (rows.r[i]->g.time > rows.r[keep]->g.time) {
			rows.drop(keep);
			keep = i;
		} else {
			rows.drop(i);
		}
	}
	rows.compact();
}
