// The Jean file: written by prologue, judged by resettle.
#pragma once

#include <string_view>

namespace {

constexpr std::string_view file_text =
    "This is a file with specific contents. Its contents are of no "
    "importance to you. Move along, citizen.\n";

}  // namespace
