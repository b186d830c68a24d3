// Output: standard output and error, the game's own lines, and text
// broken to fit a terminal.
#pragma once

#include <cstddef>
#include <string_view>

#include "util/buf.hpp"

bool write_all(int fd, std::string_view s);
void out(std::string_view s);
void err(std::string_view s);
// The game's own lines go to the descriptor that the game shell names in
// PACIFICA_SAY, standard error otherwise.
int say_fd();
void say(std::string_view s);
// A line of the game's own, broken at blanks to fit 79 columns, or the
// terminal on fd when it is narrower; the width for it.
void tell(std::string_view s);
size_t text_width(int fd);
// A program's standard output, its long lines broken at blanks when it
// goes to a terminal.
void show(int fd, std::string_view s);
// "pacifica: " what, on standard error.
void warn(std::string_view what);
[[noreturn]] void die(std::string_view what, int status = 1);
// text with every line longer than width broken at blanks, never inside
// a word nor before an option; a line indented four blanks, a command the
// player is to type, is never broken.
void wrap(Buf &to, size_t width, std::string_view text);

// Whether the caller closed standard output: what is written to it is lost.
extern bool stdout_closed;
