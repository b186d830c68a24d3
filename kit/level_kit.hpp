// The level kit: what every program of the game shares.
//
// A program judges the playing directory (its working directory) by a
// fixed chain of tests, writes the story text that fits and ends with
// status 0 or 1.  Story texts are data: they may hold '%', so they are
// written as bytes, never used as a format.  Output is not buffered: each
// text is out before the next test or error, and a run starts and ends as
// cheaply as a program that does nothing.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace {

// The completion hook, called once when a step is done.  Each program
// holds its own copy; in this game nothing listens to it.
inline int send() { return 0; }

}  // namespace

// Writes s and a newline to standard output.
void put_line(std::string_view s);

// Writes s to standard output exactly as it stands.
void put_text(std::string_view s);

// Writes all of s to fd, going on after short writes; false on failure.
bool write_all(int fd, std::string_view s);

// Writes s and a newline to fd; false on failure.
bool write_line(int fd, std::string_view s);

// Cuts the file open at fd to size bytes after it was written over.  This
// stands in for O_TRUNC: on ext4 a file emptied and written again is
// flushed to disk at close, which costs more than the rest of a run.  A
// FIFO or a device, which has no size, is left as it is.  False on failure.
bool truncate_rest(int fd, off_t size);

// Whether a and b hold the same bytes.  A loop rather than memcmp, whose
// binding at run time costs more than comparing a line.
bool same_bytes(std::string_view a, std::string_view b);

// Reads fd's first line, newline included, into buf: at most size - 1 bytes.
// Returns its length, or -1 when the read fails.
ssize_t read_first_line(int fd, char *buf, size_t size);

// Writes "prefix: <description of errno>" and a newline to standard error.
void perror_msg(const char *prefix);

// The story line that handle_io_error prints; defined by each program
// that calls it.
extern const std::string_view io_error_text;

// Writes io_error_text as a line and ends the process with status 1.
[[noreturn]] void handle_io_error();
