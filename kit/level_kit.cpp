#include "level_kit.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

void put_line(std::string_view s)
{
	write_line(STDOUT_FILENO, s);
}

void put_text(std::string_view s)
{
	write_all(STDOUT_FILENO, s);
}

bool write_all(int fd, std::string_view s)
{
	while (!s.empty()) {
		ssize_t n = write(fd, s.data(), s.size());
		if (n < 0)
			return false;
		s.remove_prefix(n);
	}
	return true;
}

bool write_line(int fd, std::string_view s)
{
	return write_all(fd, s) && write_all(fd, "\n");
}

// In place of O_TRUNC at open: ext4 flushes a file that was emptied and
// written again to disk at close, which costs more than the rest of a run.
// A FIFO or a device has no size to cut (EINVAL) and is left as it is.
bool truncate_rest(int fd, off_t size)
{
	return ftruncate(fd, size) == 0 || errno == EINVAL;
}

// Only on failure, so that a run that writes all binds no more than it
// calls: where the writes stopped is where the file's offset stands.
bool cut_at_offset(int fd)
{
	int saved = errno;
	off_t end = lseek(fd, 0, SEEK_CUR);
	bool cut = end >= 0 && ftruncate(fd, end) == 0;
	errno = saved;
	return cut;
}

// A loop rather than memcmp: binding memcmp at run time costs more than
// comparing a line.  Eight bytes at a time, as no optimisation level may
// be relied on to do it; a memcpy of constant size is a plain load.
bool same_bytes(std::string_view a, std::string_view b)
{
	if (a.size() != b.size())
		return false;
	size_t i = 0;
	for (; i + sizeof(uint64_t) <= a.size(); i += sizeof(uint64_t)) {
		uint64_t x, y;
		memcpy(&x, a.data() + i, sizeof x);
		memcpy(&y, b.data() + i, sizeof y);
		if (x != y)
			return false;
	}
	for (; i < a.size(); i++)
		if (a[i] != b[i])
			return false;
	return true;
}

ssize_t read_first_line(int fd, char *buf, size_t size)
{
	size_t len = 0;

	while (len + 1 < size) {
		ssize_t n = read(fd, buf + len, size - 1 - len);
		if (n < 0)
			return -1;
		if (n == 0)
			break;
		if (auto nl = static_cast<const char *>(memchr(buf + len, '\n', n)))
			return nl - buf + 1;
		len += n;
	}
	return len;
}

void perror_msg(const char *prefix)
{
	const char *description = strerror(errno);

	write_all(STDERR_FILENO, prefix);
	write_all(STDERR_FILENO, ": ");
	write_line(STDERR_FILENO, description);
}
