#include "level_kit.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

void put_line(std::string_view s)
{
	fwrite(s.data(), 1, s.size(), stdout);
	putchar('\n');
}

void put_text(std::string_view s)
{
	fwrite(s.data(), 1, s.size(), stdout);
}

bool write_all(int fd, std::string_view s)
{
	while (!s.empty()) {
		ssize_t n = write(fd, s.data(), s.size());
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return false;
		}
		s.remove_prefix(n);
	}
	return true;
}

bool write_line(int fd, std::string_view s)
{
	return write_all(fd, s) && write_all(fd, "\n");
}

ssize_t read_first_line(int fd, char *buf, size_t size)
{
	size_t len = 0;

	while (len + 1 < size) {
		ssize_t n = read(fd, buf + len, size - 1 - len);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return -1;
		}
		if (n == 0)
			break;
		if (auto nl = static_cast<char *>(memchr(buf + len, '\n', n)))
			return nl - buf + 1;
		len += n;
	}
	return len;
}

void perror_msg(const char *prefix)
{
	fflush(stdout);
	perror(prefix);
}
