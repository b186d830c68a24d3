// The Grob file: planted by celebrate, judged by celebrate and retribute.
#pragma once

#include <string_view>

#include "level_kit.hpp"

namespace {

constexpr std::string_view contents =
    "We the Grob are great and strong! Resistance is elituf!\n";

// A Grob record is the text and its terminating zero byte.
constexpr size_t grob_record_size = contents.size() + 1;

// Whether a zero-filled record of grob_record_size bytes, read from a
// jailed Grob, is the right one: up to its first zero byte it must be the
// text, no more, no less.
inline bool grob_accepted(const char *record)
{
	return record[contents.size()] == '\0' &&
	       same_bytes(std::string_view(record, contents.size()), contents);
}

}  // namespace
