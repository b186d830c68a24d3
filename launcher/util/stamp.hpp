// Times as the record and the CSV write them: ISO 8601, UTC.
#pragma once

#include <ctime>
#include <string_view>

#include "util/buf.hpp"

void stamp(Buf &to, time_t t);
bool parse_stamp(std::string_view s, time_t &t);
