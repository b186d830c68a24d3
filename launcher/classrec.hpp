// The class record, the one part of the recorder that runs with its
// group: the player's record opened with it, and the records of a class
// for a teacher; then the group given up.
#pragma once

#include <sys/types.h>

// What the recorder is run for: a game's event, a report, or neither
// (the walkthrough, which keeps a record of its own).
enum class Want { none, play, report };

// Run before the arguments or the environment are read.
void class_open(Want w);
void class_drop();
// For the report of a teacher (root, or a member of the group that the
// settings name as teachers): the class record's directory, and the
// recorder's group, taken back only to open a file in it.  class_dir is
// -1 where there is no class record, or the caller is no teacher.
extern int class_dir;
extern gid_t class_gid;
int open_in_class(const char *name);
