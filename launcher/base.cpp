// The helpers that the recorder's parts share: a byte string, output,
// and the forms a name takes in the record, on a screen and on a command
// line.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine.hpp"

Buf::~Buf() { free(p); }

void Buf::reserve(size_t want)
{
	if (want + 1 <= cap)
		return;
	size_t grown = cap ? cap : 64;
	while (grown < want + 1)
		grown *= 2;
	char *q = static_cast<char *>(realloc(p, grown));
	if (!q)
		abort();
	p = q, cap = grown;
}

Buf &Buf::add(std::string_view s)
{
	reserve(n + s.size());
	if (!s.empty())
		memcpy(p + n, s.data(), s.size());
	n += s.size();
	p[n] = '\0';
	return *this;
}

Buf &Buf::num(long v)
{
	char d[24];
	int i = sizeof d;
	bool minus = v < 0;
	unsigned long u = minus ? -static_cast<unsigned long>(v) : v;
	do
		d[--i] = '0' + u % 10;
	while (u /= 10);
	if (minus)
		d[--i] = '-';
	return add(std::string_view(d + i, sizeof d - i));
}

bool write_all(int fd, std::string_view s)
{
	while (!s.empty()) {
		ssize_t n = write(fd, s.data(), s.size());
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		s.remove_prefix(n);
	}
	return true;
}

void out(std::string_view s) { write_all(1, s); }
void err(std::string_view s) { write_all(2, s); }

int say_fd()
{
	static int fd = -2;
	if (fd == -2) {
		long n;
		const char *e = getenv("PACIFICA_SAY");
		fd = e && to_number(e, n) && n >= 1 && n < 1024 && fcntl(n, F_GETFD) >= 0 ? n : 2;
	}
	return fd;
}

void say(std::string_view s) { write_all(say_fd(), s); }

// The width of the terminal on fd, or 0 when fd is none.
static size_t columns(int fd)
{
	struct winsize w;
	return ioctl(fd, TIOCGWINSZ, &w) == 0 ? w.ws_col : 0;
}

size_t text_width(int fd)
{
	size_t width = columns(fd);
	if (width == 0 || width > 80)
		width = 80;
	return width > 1 ? width - 1 : 1;
}

void tell(std::string_view s)
{
	Buf b;
	wrap(b, text_width(say_fd()), s);
	b.add('\n');
	say(b.view());
}

void show(int fd, std::string_view s)
{
	size_t width = columns(fd);
	if (width <= 1) {
		write_all(fd, s);
		return;
	}
	Buf b;
	wrap(b, width, s);
	write_all(fd, b.view());
}

void warn(std::string_view what)
{
	Buf b;
	b.add("pacifica: ").add(what).add('\n');
	err(b.view());
}

void die(std::string_view what, int status)
{
	warn(what);
	exit(status);
}

void wrap(Buf &to, size_t width, std::string_view text)
{
	while (!text.empty()) {
		size_t nl = text.find('\n');
		std::string_view line = text.substr(0, nl);
		text = nl == text.npos ? std::string_view() : text.substr(nl + 1);
		while (line.size() > width) {
			size_t cut = line.substr(0, width + 1).rfind(' ');
			if (cut == line.npos && (cut = line.find(' ')) == line.npos)
				break;
			to.add(line.substr(0, cut)).add('\n');
			line.remove_prefix(cut + 1);
		}
		to.add(line);
		if (nl != std::string_view::npos)
			to.add('\n');
	}
}

static bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Whether s reaches a terminal as it reads: UTF-8 with no control
// character (C0 or C1) and none of the marks that turn text right to left.
bool printable(std::string_view s)
{
	for (size_t i = 0; i < s.size();) {
		unsigned char c = s[i];
		if (c < 0x80) {
			if (is_control(c))
				return false;
			i++;
			continue;
		}
		int len = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
		if (len == 0 || i + len > s.size())
			return false;
		unsigned long cp = c & (0x7f >> len);
		for (int k = 1; k < len; k++) {
			unsigned char d = s[i + k];
			if ((d & 0xc0) != 0x80)
				return false;
			cp = cp << 6 | (d & 0x3f);
		}
		if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
		    (cp >= 0xd800 && cp <= 0xdfff) || cp <= 0x9f || cp == 0x61c || cp == 0x200e || cp == 0x200f ||
		    (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069))
			return false;
		i += len;
	}
	return true;
}

void shown(Buf &to, std::string_view s)
{
	if (printable(s)) {
		to.add(s);
		return;
	}
	to.add("$'");
	for (unsigned char c : s) {
		const char *e = nullptr;
		switch (c) {
		case '\a': e = "\\a"; break;
		case '\b': e = "\\b"; break;
		case '\033': e = "\\E"; break;
		case '\f': e = "\\f"; break;
		case '\n': e = "\\n"; break;
		case '\r': e = "\\r"; break;
		case '\t': e = "\\t"; break;
		case '\v': e = "\\v"; break;
		case '\\': e = "\\\\"; break;
		case '\'': e = "\\'"; break;
		}
		if (e) {
			to.add(e);
		} else if (is_control(c) || c >= 0x80) {
			char o[5] = {'\\', char('0' + (c >> 6)), char('0' + (c >> 3 & 7)), char('0' + (c & 7)), 0};
			to.add(o);
		} else {
			to.add(char(c));
		}
	}
	to.add('\'');
}

void quoted(Buf &to, std::string_view s)
{
	if (!printable(s)) {
		shown(to, s);
		return;
	}
	if (s.empty()) {
		to.add("''");
		return;
	}
	for (size_t i = 0; i < s.size(); i++) {
		char c = s[i];
		if (strchr(" !\"#$&'()*,;<>?[\\]^`{|}", c) || (c == '~' && i == 0))
			to.add('\\');
		to.add(c);
	}
}

void escape(Buf &to, std::string_view s)
{
	static const char hex[] = "0123456789abcdef";
	for (unsigned char c : s) {
		if (c == '\\') {
			to.add("\\\\");
		} else if (is_control(c)) {
			char e[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
			to.add(std::string_view(e, 4));
		} else {
			to.add(char(c));
		}
	}
}

static int hex_digit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return -1;
}

bool unescape(Buf &to, std::string_view s)
{
	for (size_t i = 0; i < s.size(); i++) {
		if (s[i] != '\\') {
			to.add(s[i]);
		} else if (i + 1 < s.size() && s[i + 1] == '\\') {
			to.add('\\');
			i++;
		} else if (i + 3 < s.size() && s[i + 1] == 'x' && hex_digit(s[i + 2]) >= 0 && hex_digit(s[i + 3]) >= 0) {
			to.add(char(hex_digit(s[i + 2]) * 16 + hex_digit(s[i + 3])));
			i += 3;
		} else {
			return false;
		}
	}
	return true;
}

bool to_number(std::string_view s, long &v)
{
	if (s.empty() || s.size() > 18)
		return false;
	v = 0;
	for (char c : s) {
		if (c < '0' || c > '9')
			return false;
		v = v * 10 + (c - '0');
	}
	return true;
}

// Days since 1970-01-01 of a civil date, and back.
static long days_from_civil(long y, long m, long d)
{
	y -= m <= 2;
	long era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
	long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
	return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

void stamp(Buf &to, time_t t)
{
	struct tm tm;
	char s[32];
	gmtime_r(&t, &tm);
	strftime(s, sizeof s, "%Y-%m-%dT%H:%M:%SZ", &tm);
	to.add(s);
}

bool parse_stamp(std::string_view s, time_t &t)
{
	static const char form[] = "dddd-dd-ddTdd:dd:ddZ";
	if (s.size() != sizeof form - 1)
		return false;
	for (size_t i = 0; i < s.size(); i++)
		if (form[i] == 'd' ? s[i] < '0' || s[i] > '9' : s[i] != form[i])
			return false;
	auto field = [&](size_t at, size_t len) {
		long v = 0;
		for (size_t i = at; i < at + len; i++)
			v = v * 10 + (s[i] - '0');
		return v;
	};
	long mo = field(5, 2), d = field(8, 2), h = field(11, 2), mi = field(14, 2), se = field(17, 2);
	if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60)
		return false;
	t = (days_from_civil(field(0, 4), mo, d) * 86400) + h * 3600 + mi * 60 + se;
	return true;
}

// std::string_view::substr reports a start past the end through this
// libstdc++ function; none of the recorder's calls can, and defining it
// here keeps the recorder off libstdc++, whose loading would cost more
// than the rest of a run.
namespace std {
[[noreturn]] void __throw_out_of_range_fmt(const char *, ...) { abort(); }
}  // namespace std

// The machine's settings, by a teacher, in lines "NAME = VALUE"; other
// lines are ignored.  A setting that grants a privilege is taken only
// from a file that root keeps and no one else may write.
bool setting(std::string_view name, Buf &value, bool privileged)
{
	int fd = open(conf.p, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	if (fd < 0)
		return false;
	Buf text;
	char b[4096];
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (!privileged || (st.st_uid == 0 && (st.st_mode & 022) == 0)))
		for (ssize_t n; text.n < (1 << 20) && (n = read(fd, b, sizeof b)) > 0;)
			text.add(std::string_view(b, n));
	close(fd);
	std::string_view all = text.view();
	while (!all.empty()) {
		size_t nl = all.find('\n');
		std::string_view line = all.substr(0, nl);
		all = nl == all.npos ? std::string_view() : all.substr(nl + 1);
		auto trim = [](std::string_view s) {
			while (!s.empty() && strchr(" \t\r", s.front()))
				s.remove_prefix(1);
			while (!s.empty() && strchr(" \t\r", s.back()))
				s.remove_suffix(1);
			return s;
		};
		size_t eq = line.find('=');
		if (eq == line.npos || trim(line.substr(0, eq)) != name)
			continue;
		value.clear();
		value.add(trim(line.substr(eq + 1)));
		return true;
	}
	return false;
}
