// The forms a name takes: on a screen, on a command line, in the record.
#pragma once

#include <string_view>

#include "util/buf.hpp"

// A name as a player may read it: as it is, or in bash's $'...' form when
// it is not printable: not UTF-8, or holding a control character or a
// mark that turns text right to left.
bool printable(std::string_view s);
void shown(Buf &to, std::string_view s);
// A word as bash's printf %q gives it, to be typed back.
void quoted(Buf &to, std::string_view s);
// A name as the record holds it: backslashes and control characters
// escaped, so that a line is a line and a field a field; and back.
void escape(Buf &to, std::string_view s);
bool unescape(Buf &to, std::string_view s);
bool to_number(std::string_view s, long &v);
