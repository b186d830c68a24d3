// Where the recorder, the game's programs and its files lie, found from
// the recorder's own place, and the machine's settings.
#pragma once

#include <string_view>

#include "util/buf.hpp"

extern Buf recorder, libexec, share, conf;
void find_files();
// The value of a setting of the machine's, from the game's configuration
// file; false when it does not say, or, for a privileged setting, when
// someone but root could have written it.
bool setting(std::string_view name, Buf &value, bool privileged = false);
// The same, from the text of such a file.
bool setting_in(std::string_view text, std::string_view name, Buf &value);
