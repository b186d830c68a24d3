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

// Cuts a file just written over at size bytes; false on failure.
bool truncate_rest(int fd, off_t size);

// After a failed write over a file from its start, cuts off what stood
// beyond the bytes that went in; keeps errno; false if it could not.
bool cut_at_offset(int fd);

// Whether a and b hold the same bytes.
bool same_bytes(std::string_view a, std::string_view b);

// Reads fd's first line into buf, at most size - 1 bytes; its length or -1.
ssize_t read_first_line(int fd, char *buf, size_t size);

// Writes "prefix: <description of errno>" and a newline to standard error.
void perror_msg(const char *prefix);

// The story line of handle_io_error, defined by each program that calls it.
extern const std::string_view io_error_text;

// Writes io_error_text as a line and ends the process with status 1.
[[noreturn]] void handle_io_error();
