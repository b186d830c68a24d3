#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "classrec.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

bool stdout_closed;

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
		// Never a descriptor of the record's, whatever its number.
		// Settled by main before the recorder opens any descriptor but
		// the record's, and kept: the player's own are never closed.
		fd = e && to_number(e, n) && n >= 1 && n < 1024 && fcntl(n, F_GETFD) >= 0 && !rec_holds(n) ? n : 2;
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

// Where line may be broken: at a blank, but never before an option, which
// stays with its command ("rm -r", "ls -a").
static bool breaks_at(std::string_view line, size_t at)
{
	return line[at] == ' ' && (at + 1 == line.size() || line[at + 1] != '-');
}

void wrap(Buf &to, size_t width, std::string_view text)
{
	while (!text.empty()) {
		size_t nl = text.find('\n');
		std::string_view line = text.substr(0, nl);
		text = nl == text.npos ? std::string_view() : text.substr(nl + 1);
		// A line indented four blanks is a command to be typed as it
		// stands: the terminal may fold it, but no break is put in it.
		bool command = line.size() > 4 && line.substr(0, 4) == "    " && line[4] != ' ';
		while (line.size() > width && !command) {
			size_t cut = width + 1;
			while (cut > 0 && !breaks_at(line, cut - 1))
				cut--;
			if (cut > 0)
				cut--;
			else
				for (cut = width + 1; cut < line.size() && !breaks_at(line, cut); cut++)
					;
			if (cut >= line.size())
				break;
			to.add(line.substr(0, cut)).add('\n');
			line.remove_prefix(cut + 1);
		}
		to.add(line);
		if (nl != std::string_view::npos)
			to.add('\n');
	}
}

