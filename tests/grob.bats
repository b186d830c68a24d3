#!/usr/bin/env bats
# The Grob chapter: raze, celebrate, retribute.

load helpers
load texts

# grob PATH [TAIL]: the planted 57-byte record at PATH, then TAIL's bytes.
grob() { in_dir "$1"; { printf '%s\0' "$grob_record"; printf '%s' "${2-}"; } >"$1"; }
# put PATH BYTES: a file at PATH holding BYTES.
put() { in_dir "$1"; printf '%s' "$2" >"$1"; }
# planted MODE [TAIL]: .grob holds the record (then TAIL) with this mode.
planted() {
	[ "$(stat -c %a .grob)" = "$1" ] || fail ".grob has mode $(stat -c %a .grob), want $1"
	grob "$T/grob" "${2-}"; cmp "$T/grob" .grob
}
fort() { mkdir -p "$stronghold"; }

# raze

@test "raze: the stronghold stands" { fort; run_level raze; expect 0 "$raze_now"; unchanged; }
@test "raze: no stronghold ever stood" { run_level raze; expect 0 "$victory"; unchanged; }
@test "raze: the innermost directory deleted" { fort; rmdir "$stronghold"; run_level raze; expect 0 "$victory"; }
@test "raze: a directory on the way renamed" { fort; mv yklim_yaw/atled_tnardauq/societies yklim_yaw/atled_tnardauq/other; run_level raze; expect 0 "$victory"; }
@test "raze: a plain file in place of the innermost directory" { fort; rmdir "$stronghold"; put "$stronghold" grob; run_level raze; expect 0 "$victory"; }
@test "raze: a link to a directory in its place" { fort; rmdir "$stronghold"; ln -s .. "$stronghold"; run_level raze; expect 0 "$raze_now"; }
@test "raze: a link leading nowhere in its place" { fort; rmdir "$stronghold"; ln -s nowhere "$stronghold"; run_level raze; expect 0 "$victory"; }
@test "raze: no search permission at the top" { fort; chmod 600 yklim_yaw; run_level --player raze; expect 0 "$victory"; unchanged; }
@test "raze: no search permission just above" { fort; chmod 600 "${stronghold%/*}"; run_level --player raze; expect 0 "$victory"; }
@test "raze: no search permission in the innermost" { fort; chmod 000 "$stronghold"; run_level --player raze; expect 0 "$raze_now"; }

# celebrate: the stages

@test "celebrate: a fresh directory gets the openings and the Grob" { run_level celebrate; expect 0 "$openings"; changed .grob; planted 640; }
@test "celebrate: the Grob's mode follows umask 077" { run_level --umask 077 celebrate; expect 0 "$openings"; planted 600; }
@test "celebrate: arguments change nothing" { run_level celebrate jail; expect 0 "$openings"; planted 640; }
@test "celebrate: the Grob loose and no jail" { put .grob junk; run_level celebrate; expect 0 "$no_jail"; changed .grob; planted 644; }
@test "celebrate: planting over a longer file keeps its tail" { put .grob "$(printf '%100s' '')"; run_level celebrate; expect 0 "$no_jail"; planted 644 "$(printf '%43s' '')"; }
@test "celebrate: the Grob copied into jail, not moved" { grob .grob; grob jail/.grob; run_level celebrate; expect 0 "$loose"; changed .grob; planted 644; }
@test "celebrate: a plain file as the jail, the Grob loose" { grob .grob; put jail x; run_level celebrate; expect 0 "$loose"; }
@test "celebrate: a plain file as the jail, no Grob" { put jail x; run_level celebrate; expect 0 ''; changed .grob; planted 640; }
@test "celebrate: an empty jail" { mkdir jail; run_level celebrate; expect 0 ''; changed .grob; planted 640; }
@test "celebrate: a link leading nowhere in the jail" { mkdir jail; ln -s nowhere jail/.grob; run_level celebrate; expect 0 ''; planted 640; }
@test "celebrate: a link leading nowhere as the loose Grob" { ln -s target .grob; run_level celebrate; expect 0 "$openings"; changed target; cmp <(printf '%s\0' "$grob_record") target; }

# celebrate: judging the jailed Grob

@test "celebrate: the Grob in jail" { grob jail/.grob; run_level celebrate; expect 0 "$jailed"; unchanged; }
@test "celebrate: the text without its zero byte" { put jail/.grob "$grob_record"; run_level celebrate; expect 0 "$jailed"; }
@test "celebrate: anything after the 57th byte" { grob jail/.grob "more"; run_level celebrate; expect 0 "$jailed"; }
@test "celebrate: a newline in place of the zero byte" { put jail/.grob "$grob_record"$'\n'; run_level celebrate; expect 1 "$wrong_jailed"; unchanged; }
@test "celebrate: a byte of 0x80 in place of the zero byte" { put jail/.grob "$grob_record"$'\x80'; run_level celebrate; expect 1 "$wrong_jailed"; }
@test "celebrate: an edited Grob" { put jail/.grob "${grob_record/strong/weak}"; run_level celebrate; expect 1 "$wrong_jailed"; }
@test "celebrate: an empty Grob" { put jail/.grob ''; run_level celebrate; expect 1 "$wrong_jailed"; }
@test "celebrate: a short Grob" { put jail/.grob "We the Grob"; run_level celebrate; expect 1 "$wrong_jailed"; }
@test "celebrate: a FIFO in the jail" { mkdir jail; mkfifo jail/.grob; run_level celebrate; expect 1 "$wrong_jailed"; unchanged; }
@test "celebrate: an unreadable Grob in the jail" { grob jail/.grob; chmod 000 jail/.grob; run_level --player celebrate; expect 1 '' $'open : Permission denied\n'; unchanged; }
@test "celebrate: a directory in the jail" { mkdir -p jail/.grob; run_level celebrate; expect 1 '' $'read: Is a directory\n'; unchanged; }

# celebrate: planting fails

@test "celebrate: a read-only playing directory" { chmod 555 .; run_level --player celebrate; expect 1 "$openings" $'open() : Permission denied\n'; unchanged; }
@test "celebrate: a directory as the loose Grob" { mkdir .grob; run_level celebrate; expect 1 "$no_jail" $'open() : Is a directory\n'; unchanged; }
@test "celebrate: a full disk" { ln -s /dev/full .grob; run_level celebrate; expect 1 "$no_jail" $'write: No space left on device\n'; unchanged; }
@test "celebrate: a file-size limit of 30 bytes" { run_level --fsize 30 celebrate; expect 1 "$openings" $'write: File too large\n'; [ "$(stat -c %s .grob)" = 30 ]; }
@test "celebrate: a FIFO as the loose Grob" { mkfifo .grob; run_level celebrate; expect 0 "$no_jail"; changed .grob; [ -p .grob ]; }
@test "celebrate: the story comes before the error" { mkdir .grob; run_level --merged celebrate; expect 1 "$no_jail"$'open() : Is a directory\n'; }

# retribute

@test "retribute: the jail renamed, the Grob inside" { grob indefinite_detention_center/.grob; run_level retribute; expect 0 "$justice"; unchanged; }
@test "retribute: the jail copied and kept" { grob jail/.grob; grob indefinite_detention_center/.grob; run_level retribute; expect 0 "$angry"; unchanged; }
@test "retribute: an empty directory" { run_level retribute; expect 0 "$angry"; }
@test "retribute: the jail renamed, no Grob inside" { mkdir indefinite_detention_center; run_level retribute; expect 0 "$angry"; }
@test "retribute: a plain file named jail" { put jail x; grob indefinite_detention_center/.grob; run_level retribute; expect 0 "$justice"; }
@test "retribute: a link leading nowhere named jail" { ln -s nowhere jail; grob indefinite_detention_center/.grob; run_level retribute; expect 0 "$justice"; }
@test "retribute: a link to a directory named jail still stands" { mkdir cell; ln -s cell jail; grob indefinite_detention_center/.grob; run_level retribute; expect 0 "$angry"; unchanged; }
@test "retribute: a jail that cannot be listed" { mkdir jail; chmod 300 jail; grob indefinite_detention_center/.grob; run_level --player retribute; expect 0 "$justice"; unchanged; }
@test "retribute: an unreadable Grob" { grob indefinite_detention_center/.grob; chmod 000 indefinite_detention_center/.grob; run_level --player retribute; expect 0 "$angry"; }
@test "retribute: the text without its zero byte" { put indefinite_detention_center/.grob "$grob_record"; run_level retribute; expect 0 "$justice"; }
@test "retribute: a newline in place of the zero byte" { put indefinite_detention_center/.grob "$grob_record"$'\n'; run_level retribute; expect 1 "$wrong_detained"; unchanged; }
@test "retribute: a byte of 0xff in place of the zero byte" { put indefinite_detention_center/.grob "$grob_record"$'\xff'; run_level retribute; expect 1 "$wrong_detained"; }
@test "retribute: an empty Grob" { put indefinite_detention_center/.grob ''; run_level retribute; expect 1 "$wrong_detained"; }
@test "retribute: a FIFO as the Grob" { mkdir indefinite_detention_center; mkfifo indefinite_detention_center/.grob; run_level retribute; expect 1 "$wrong_detained"; unchanged; }
@test "retribute: a directory as the Grob" { mkdir -p indefinite_detention_center/.grob; run_level retribute; expect 1 "$read_error"; unchanged; }

# Standard input closed: the first path opened gets descriptor 0.

@test "no stdin: raze finds the stronghold" { fort; run_level --no-stdin raze; expect 0 "$raze_now"; }
@test "no stdin: celebrate plants the Grob" { run_level --no-stdin celebrate; expect 0 "$openings"; planted 640; }
@test "no stdin: celebrate accepts the jailed Grob" { grob jail/.grob; run_level --no-stdin celebrate; expect 0 "$jailed"; }
@test "no stdin: retribute accepts the detained Grob" { grob indefinite_detention_center/.grob; run_level --no-stdin retribute; expect 0 "$justice"; }
@test "no stdin: retribute sees the jail still standing" { mkdir jail; grob indefinite_detention_center/.grob; run_level --no-stdin retribute; expect 0 "$angry"; }
