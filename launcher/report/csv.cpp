// The report as CSV (RFC 4180): one row per game for a spreadsheet, one
// row per student for a gradebook, and the rows of other machines read
// back to be merged.  A field a spreadsheet would take for a formula is
// neutralised with a leading "'", which reading takes off again.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

void field(Buf &b, std::string_view s, bool plain, bool first = false)
{
	Buf shown_form;
	if (!plain && !printable(s)) {
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

void csv(Buf &b, const Rows &rows, bool plain)
{
	for (int i = 0; i < nheader; i++)
		b.add(i ? "," : "").add(header[i]);
	for (const story::Step &s : story::steps)
		b.add(",done_").add(s.name);
	b.add("\r\n");
	for (long i = 0; i < rows.n; i++) {
		const Row &r = *rows.r[i];
		field(b, r.player.view(), plain, true);
		field(b, r.dir.view(), plain);
		number(b, r.begun ? r.g.ndone() : 0);
		number(b, story::nsteps);
		b.add(',').add(r.on_name());
		if (!r.begun) {
			b.add(",,,,,,,,");	// runs to witness
			field(b, r.host.view(), plain);
			for (int s = 0; s < story::nsteps; s++)
				b.add(',');
			b.add("\r\n");
			continue;
		}
		number(b, r.g.runs);
		time_field(b, r.g.began);
		time_field(b, r.g.time);
		number(b, r.g.active);
		field(b, r.stuck.view(), plain);
		number(b, r.g.hints);
		time_field(b, r.finished());
		b.add(',').add(r.witness);
		field(b, r.host.view(), plain);
		for (long d : r.g.done)
			time_field(b, d >= 0 ? r.g.began + d : 0);
		b.add("\r\n");
	}
}

// For a gradebook: the columns a Canvas export begins with, the login as
// the one both Canvas and Moodle can match a student by, then the grade.
void per_student(Buf &b, const Rows &rows, bool plain)
{
	b.add("Student,ID,SIS User ID,SIS Login ID,Section,Pacifica steps (of ").num(story::nsteps);
	b.add("),Pacifica finished\r\n");
	each_player(rows, [&](long, long, long best) {
		const Row &r = *rows.r[best];
		Buf name;
		full_name(name, r.player.view());
		field(b, name.view(), plain, true);
		b.add(",,");
		field(b, r.player.view(), plain);
		b.add(',');
		number(b, r.begun ? r.g.ndone() : 0);
		time_field(b, r.finished());
		b.add("\r\n");
	});
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
	constexpr int ncolumns = nheader + story::nsteps, most = ncolumns + 8;
	Buf f[most];
	int at[ncolumns], n;
	std::string_view s = text.view();
	auto refuse = [&](long line) {
		warn(Buf().add(name.view()).add(":").num(line).add(": not a CSV of pacifica --report --csv; not read").view());
		return false;
	};
	if (!next_record(s, f, n, most))
		return refuse(1);
	for (int c = 0; c < ncolumns; c++) {
		Buf want;
		want.add(c < nheader ? header[c] : Buf().add("done_").add(story::steps[c - nheader].name).view());
		at[c] = -1;
		for (int k = 0; k < n && k < most; k++)
			if (f[k].view() == want.view())
				at[c] = k;
		if (at[c] < 0)
			return refuse(1);
	}
	Rows mine;
	for (long line = 2; !s.empty(); line++) {
		if (!next_record(s, f, n, most) || n < ncolumns)
			return refuse(line);
		auto v = [&](int c) { return f[at[c]].view(); };
		Row &r = mine.add();
		r.player.add(v(0));
		r.dir.add(v(1));
		r.host.add(v(13));
		r.begun = v(4) != "not begun";
		if (!r.begun)
			continue;
		long number;
		time_t t;
		bool ok = time_of(v(6), r.g.began) && time_of(v(7), r.g.time) && to_number(v(5), r.g.runs) &&
		          to_number(v(8), r.g.active) && to_number(v(10), r.g.hints) && to_number(v(2), number);
		for (int k = 0; ok && k < story::nsteps; k++) {
			ok = time_of(v(nheader + k), t) && (!t || t >= r.g.began);
			r.g.done[k] = t ? t - r.g.began : -1;
		}
		r.stuck.add(v(9));
		std::string_view w = v(12);
		r.witness = w == "class" ? "class" : w == "taken" ? "taken" : "home";
		if (!ok || number != r.g.ndone())
			return refuse(line);
	}
	// Only a whole file is taken.
	for (long i = 0; i < mine.n; i++) {
		Row &r = rows.add();
		r.player.add(mine.r[i]->player.view());
		r.dir.add(mine.r[i]->dir.view());
		r.host.add(mine.r[i]->host.view());
		r.stuck.add(mine.r[i]->stuck.view());
		r.witness = mine.r[i]->witness;
		r.begun = mine.r[i]->begun;
		r.g.began = mine.r[i]->g.began, r.g.time = mine.r[i]->g.time;
		r.g.runs = mine.r[i]->g.runs, r.g.hints = mine.r[i]->g.hints, r.g.active = mine.r[i]->g.active;
		memcpy(r.g.done, mine.r[i]->g.done, sizeof r.g.done);
	}
	return true;
}
