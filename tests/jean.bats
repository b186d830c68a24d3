#!/usr/bin/env bats
# The Jean chapter: prologue, resettle, duplicate.

load helpers
load texts

# put PATH [BYTES]: a file at PATH (directories made), the Jean text by default.
put() { in_dir "$1"; printf '%s' "${2-$jean}" >"$1"; }
fifo() { in_dir "$1"; mkfifo "$1"; }
copies() { put Pacifica/Jean "$1"; put Pacifica_Copy/Jean "${2-$1}"; }

# prologue

@test "prologue: an empty directory gets Jean and the briefing" { run_level prologue; expect 0 "$prologue_intro"; changed Jean; has_file Jean 644 "$jean"; }
@test "prologue: Jean's mode follows umask 077" { run_level --umask 077 prologue; expect 0 "$prologue_intro"; has_file Jean 600 "$jean"; }
@test "prologue: Jean's mode follows umask 002" { run_level --umask 002 prologue; expect 0 "$prologue_intro"; has_file Jean 664 "$jean"; }
@test "prologue: arguments change nothing" { run_level prologue --help; expect 0 "$prologue_intro"; has_file Jean 644 "$jean"; }
@test "prologue: a rerun rewrites Jean and leaves the rest alone" { put Jean "$jean$jean more"; chmod 600 Jean; put Pacifica/Jean x; run_level prologue; expect 0 "$prologue_intro"; changed Jean; has_file Jean 600 "$jean"; }
@test "prologue: Jean a directory" { mkdir Jean; run_level prologue; expect 1 "$cannot_write"; unchanged; }
@test "prologue: a read-only playing directory" { chmod 555 .; run_level --player prologue; expect 1 "$cannot_write"; unchanged; }
@test "prologue: a read-only Jean" { put Jean old; chmod 444 Jean; run_level --player prologue; expect 1 "$cannot_write"; unchanged; }
@test "prologue: a full disk" { ln -s /dev/full Jean; run_level prologue; expect 1 "$cannot_write"; unchanged; }
@test "prologue: a file-size limit below Jean's size" { run_level --fsize 50 prologue; expect 1 "$cannot_write"; changed Jean; same_bytes Jean "${jean:0:50}"; }
@test "prologue: a size limit over an old Jean leaves only what was written" { put Jean "$(printf '%200s' '')"; run_level --fsize 30 prologue; expect 1 "$cannot_write"; changed Jean; same_bytes Jean "${jean:0:30}"; }
@test "prologue: a FIFO named Jean with no reader" { mkfifo Jean; run_level prologue; expect 1 "$cannot_write"; unchanged; }
@test "prologue: a FIFO named Jean with a reader gets Jean's text" { mkfifo Jean; exec 8<>Jean; run_level prologue; expect 0 "$prologue_intro"; changed Jean; timeout 5 head -c 102 <&8 >"$T/got"; exec 8<&-; same_bytes "$T/got" "$jean"; }
@test "prologue: a link to /dev/null as Jean, which cannot be cut" { ln -s /dev/null Jean; run_level prologue; expect 0 "$prologue_intro"; unchanged; }

# resettle

@test "resettle: Jean moved into Pacifica" { put Pacifica/Jean; run_level resettle; expect 0 "$resettle_intro"; unchanged; }
@test "resettle: only the first line counts" { put Pacifica/Jean "${jean}and more"; run_level resettle; expect 0 "$resettle_intro"; }
@test "resettle: Jean copied, not moved" { put Jean; put Pacifica/Jean; run_level resettle; expect 1 "$liar"; unchanged; }
@test "resettle: an empty directory" { run_level resettle; expect 1 "$liar"; unchanged; }
@test "resettle: Jean moved but Pacifica missing" { put Pacifica_Copy/Jean; run_level resettle; expect 1 "$liar"; }
@test "resettle: an edited Jean" { put Pacifica/Jean "${jean/citizen/comrade}"; run_level resettle; expect 1 "$liar"; }
@test "resettle: only Jean's first letter changed" { put Pacifica/Jean "t${jean:1}"; run_level resettle; expect 1 "$liar"; }
@test "resettle: a greater byte among Jean's last" { put Pacifica/Jean "${jean%n.?}o."$'\n'; run_level resettle; expect 1 "$liar"; unchanged; }
@test "resettle: Jean without his newline" { put Pacifica/Jean "${jean%?}"; run_level resettle; expect 1 "$liar"; }
@test "resettle: a zero byte after Jean's text" { put Pacifica/Jean "${jean%?}"; printf '\0\n' >>Pacifica/Jean; run_level resettle; expect 1 "$liar"; }
@test "resettle: a first line over 255 bytes" { put Pacifica/Jean "$(printf '%300s' '')$jean"; run_level resettle; expect 1 "$liar"; }
@test "resettle: an empty Jean" { put Pacifica/Jean ''; run_level resettle; expect 1 "$liar"; }
@test "resettle: an unreadable Jean in Pacifica" { put Pacifica/Jean; chmod 000 Pacifica/Jean; run_level --player resettle; expect 1 "$liar"; unchanged; }
@test "resettle: an unreadable Jean left behind counts as gone" { put Pacifica/Jean; put Jean; chmod 000 Jean; run_level --player resettle; expect 0 "$resettle_intro"; unchanged; }
@test "resettle: a directory named Jean left behind" { put Pacifica/Jean; mkdir Jean; run_level resettle; expect 1 "$liar"; }
@test "resettle: a directory at ./Pacifica/Jean" { mkdir -p Pacifica/Jean; run_level resettle; expect 1 "$liar"; }
@test "resettle: a link to a good Jean elsewhere" { put elsewhere/Jean; mkdir Pacifica; ln -s ../elsewhere/Jean Pacifica/Jean; run_level resettle; expect 0 "$resettle_intro"; }
@test "resettle: a link back to the Jean left behind" { put Jean; mkdir Pacifica; ln -s ../Jean Pacifica/Jean; run_level resettle; expect 1 "$liar"; }
@test "resettle: a link leading nowhere left behind counts as gone" { put Pacifica/Jean; ln -s nowhere Jean; run_level resettle; expect 0 "$resettle_intro"; unchanged; }
@test "resettle: a FIFO named Jean left behind" { put Pacifica/Jean; mkfifo Jean; run_level resettle; expect 1 "$liar"; unchanged; }
@test "resettle: a FIFO at ./Pacifica/Jean" { fifo Pacifica/Jean; run_level resettle; expect 1 "$liar"; unchanged; }

# duplicate

@test "duplicate: no Jean anywhere" { run_level duplicate; expect 0 "$wheres_jean"; unchanged; }
@test "duplicate: no backup" { put Pacifica/Jean; run_level duplicate; expect 0 "$jean_scared"; unchanged; }
@test "duplicate: only the backup" { put Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_scared"; }
@test "duplicate: a true copy" { copies "$jean"; run_level duplicate; expect 0 "$urgent_alert"; changed "$alert_name"; has_file "$alert_name" 644 "$alert_file"; }
@test "duplicate: the alert's mode follows umask 077" { copies "$jean"; run_level --umask 077 duplicate; expect 0 "$urgent_alert"; has_file "$alert_name" 600 "$alert_file"; }
@test "duplicate: the alert's mode follows umask 002" { copies "$jean"; run_level --umask 002 duplicate; expect 0 "$urgent_alert"; has_file "$alert_name" 664 "$alert_file"; }
@test "duplicate: a rerun rewrites the alert" { copies "$jean"; put "$alert_name" "$alert_file$alert_file"; run_level duplicate; expect 0 "$urgent_alert"; changed "$alert_name"; has_file "$alert_name" 644 "$alert_file"; }
@test "duplicate: a hard link" { put Pacifica/Jean; mkdir Pacifica_Copy; ln Pacifica/Jean Pacifica_Copy/Jean; run_level duplicate; expect 0 "$urgent_alert"; }
@test "duplicate: copies edited alike" { copies "some other Jean"; run_level duplicate; expect 0 "$urgent_alert"; }
@test "duplicate: copies differing after the first line" { copies "${jean}one" "${jean}two"; run_level duplicate; expect 0 "$urgent_alert"; }
@test "duplicate: lines differing after a zero byte" { copies "$(printf 'a\001')" "$(printf 'a\002')"; sed -i 's/\x01/\x00/' Pacifica/Jean; sed -i 's/\x02/\x00x/' Pacifica_Copy/Jean; run_level duplicate; expect 0 "$urgent_alert"; }
@test "duplicate: two empty copies" { copies ''; run_level duplicate; expect 0 "$urgent_alert"; }
@test "duplicate: copies differing only past their 255th byte" { copies "$(printf '%255s' '')a" "$(printf '%255s' '')b"; run_level duplicate; expect 0 "$urgent_alert"; }
@test "duplicate: copies differing in their 255th byte" { copies "$(printf '%254s' '')a" "$(printf '%254s' '')b"; run_level duplicate; expect 0 "$jean_not_copy"; }
@test "duplicate: copies differing in their first letter" { copies "aJean" "bJean"; run_level duplicate; expect 0 "$jean_not_copy"; }
@test "duplicate: copies without a newline differing in their last letter" { copies abc abd; run_level duplicate; expect 0 "$jean_not_copy"; }
@test "duplicate: a greater byte among the backup's last" { copies "$jean" "${jean%n.?}o."$'\n'; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: a greater byte among the first copy's last" { copies "${jean%n.?}o."$'\n' "$jean"; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: an imperfect clone" { copies "$jean" "${jean/Move/move}"; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: a link as the backup" { put Pacifica/Jean; mkdir Pacifica_Copy; ln -s ../Pacifica/Jean Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_still_scared"; unchanged; }
@test "duplicate: a link in Pacifica" { put Pacifica_Copy/Jean; mkdir Pacifica; ln -s ../Pacifica_Copy/Jean Pacifica/Jean; run_level duplicate; expect 0 "$jean_still_scared"; }
@test "duplicate: a link leading nowhere" { put Pacifica/Jean; mkdir Pacifica_Copy; ln -s nowhere Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_still_scared"; }
@test "duplicate: a directory as the backup" { put Pacifica/Jean; mkdir -p Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: two empty directories" { mkdir -p Pacifica/Jean Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: a FIFO as the backup" { put Pacifica/Jean; fifo Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: an empty Jean and a FIFO as the backup" { put Pacifica/Jean ''; fifo Pacifica_Copy/Jean; run_level duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: an unreadable Jean in Pacifica" { copies "$jean"; chmod 000 Pacifica/Jean; run_level --player duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: an unreadable backup" { copies "$jean"; chmod 000 Pacifica_Copy/Jean; run_level --player duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: both copies unreadable" { copies "$jean"; chmod 000 Pacifica/Jean Pacifica_Copy/Jean; run_level --player duplicate; expect 0 "$jean_not_copy"; unchanged; }
@test "duplicate: a read-only playing directory" { copies "$jean"; chmod 555 .; run_level --player duplicate; expect 1 "$urgent_alert" "$alert_name: Permission denied"$'\n'; unchanged; }
@test "duplicate: a directory named as the alert" { copies "$jean"; mkdir "$alert_name"; run_level duplicate; expect 1 "$urgent_alert" "$alert_name: Is a directory"$'\n'; unchanged; }
@test "duplicate: a FIFO named as the alert" { copies "$jean"; mkfifo "$alert_name"; run_level duplicate; expect 1 "$urgent_alert" "$alert_name: No such device or address"$'\n'; unchanged; }
@test "duplicate: a full disk" { copies "$jean"; ln -s /dev/full "$alert_name"; run_level duplicate; expect 1 "$urgent_alert" "$alert_name: No space left on device"$'\n'; unchanged; }
@test "duplicate: a size limit stops the newline, and the old alert's tail goes" { copies "$jean"; put "$alert_name" "$alert_file$alert_file"; run_level --fsize 450 duplicate; expect 1 "$urgent_alert" "$alert_name: File too large"$'\n'; changed "$alert_name"; same_bytes "$alert_name" "${alert_file:0:450}"; }
@test "duplicate: the story comes before the error" { copies "$jean"; mkdir "$alert_name"; run_level --merged duplicate; expect 1 "$urgent_alert$alert_name: Is a directory"$'\n'; }

# Standard input closed: the first path opened gets descriptor 0.

@test "no stdin: prologue writes Jean" { run_level --no-stdin prologue; expect 0 "$prologue_intro"; has_file Jean 644 "$jean"; }
@test "no stdin: resettle finds Jean home" { put Pacifica/Jean; run_level --no-stdin resettle; expect 0 "$resettle_intro"; }
@test "no stdin: resettle sees a Jean left behind" { put Jean; put Pacifica/Jean; run_level --no-stdin resettle; expect 1 "$liar"; }
@test "no stdin: duplicate finds a true copy" { copies "$jean"; run_level --no-stdin duplicate; expect 0 "$urgent_alert"; has_file "$alert_name" 644 "$alert_file"; }
