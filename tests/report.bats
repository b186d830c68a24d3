#!/usr/bin/env bats
# The teacher's report: journals made by real games, reported as a table
# and as CSV; hostile and damaged journals.

load helpers
load texts
load launch

# report [ARG...]: the report, with its times, and the seconds played of
# CSV rows, blanked out.
report() {
	status=0
	(cd "$top" && env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" --report "$@") >"$T/raw" 2>"$T/err" || status=$?
	sed -E 's/[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}/MM-DD hh:mm/g; s/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z/TIME/g; s/,[0-9]+\r$/,S\r/' "$T/raw" >"$T/out"
}

# Three games of one player: finished, stuck at resettle, just begun.
three_games() {
	game "$home/pacifica" <<<"$whole_game"
	game "$top/stuck" <<<$'prologue\nresettle\nresettle\nmkdir Pacifica; cp Jean Pacifica/; resettle'
	game "$top/new" </dev/null
}

@test "a player's games as a table and as CSV" {
	three_games
	me=$(id -un)
	report
	[ "$status" = 0 ]; [ ! -s "$T/err" ]
	same_bytes "$T/out" "$(printf '%-9s %-17s %5s %-9s %4s %-11s %-11s %6s\n' PLAYER GAME STEPS ON RUNS BEGAN LAST PLAYED \
		"$me" '~/pacifica' 7/7 finished 0 'MM-DD hh:mm' 'MM-DD hh:mm' '<1m' \
		"$me" "$top/new" 0/7 prologue 0 'MM-DD hh:mm' 'MM-DD hh:mm' '<1m' \
		"$me" "$top/stuck" 1/7 resettle 3 'MM-DD hh:mm' 'MM-DD hh:mm' '<1m')
1 player, 3 games, 1 finished."$'\n'
	report --csv "$home"
	[ "$status" = 0 ]
	same_bytes "$T/out" "player,directory,steps_done,steps,on,runs_since_step,began,last_activity,played_seconds"$'\r\n'"$me,$home/pacifica,7,7,finished,0,TIME,TIME,S"$'\r\n'"$me,$top/new,0,7,prologue,0,TIME,TIME,S"$'\r\n'"$me,$top/stuck,1,7,resettle,3,TIME,TIME,S"$'\r\n'
}

@test "CSV quotes what needs quoting" {
	game "$top/a,\"b\"" </dev/null
	report --csv
	sed -n 2p "$T/out" | grep -qxF "$(id -un),\"$top/a,\"\"b\"\"\",0,7,prologue,0,TIME,TIME,S"$'\r'
}

@test "damaged journals are reported from the lines that can be read" {
	three_games
	printf 'junk\n\0\n2026-12-08T10:00:00Z\t/x\tbegun\tnot\nsecret line\n2026-12-08T10:00:00Z\t%s/new\tprologue\tbriefing\n2026-12-0' "$top" >>"$journal"
	report
	[ "$status" = 0 ]; tail -n 1 "$T/out" | grep -qx '1 player, 3 games, 1 finished.  5 journal lines could not be read and were skipped.'
	grep -q "^$(id -un) *$top/new *1/7 resettle " "$T/out"; ! grep -q 'secret\|junk' "$T/out"
	report --csv; grep -qx 'pacifica: 5 journal lines could not be read and were skipped' "$T/err"
}

@test "places without a journal are skipped; links, FIFOs, missing places and others' journals are not read" {
	three_games
	mkdir -p "$top/empty" "$top/linked/.local/state/pacifica" "$top/fifo/.local/state/pacifica" "$top/theirs/.local/state/pacifica"
	ln -s "$journal" "$top/linked/.local/state/pacifica/journal"
	mkfifo "$top/fifo/.local/state/pacifica/journal"
	# A journal in another player's home that is not theirs: only root can lay one.
	theirs=()
	if [ "$(id -u)" = 0 ]; then
		cp "$journal" "$top/theirs/.local/state/pacifica/journal"
		chown -R 65534:65534 "$top/theirs"; chown 0:0 "$top/theirs/.local/state/pacifica/journal"
		theirs=("$top/theirs")
	fi
	report "$top/empty" "$top/linked" "$top/fifo" "$home" "$top/missing" "${theirs[@]}" "$top/linked/.local/state/pacifica/journal"
	[ "$status" = 1 ]
	tail -n 1 "$T/out" | grep -qx '1 player, 3 games, 1 finished.'
	want="pacifica: $top/linked/.local/state/pacifica/journal is not a regular file; not read
pacifica: $top/fifo/.local/state/pacifica/journal is not a regular file; not read
pacifica: there is no $top/missing; not read"
	[ "$(id -u)" != 0 ] || want+=$'\n'"pacifica: $top/theirs/.local/state/pacifica/journal does not belong to the owner of $top/theirs; not read"
	same_bytes "$T/err" "$want"$'\n'"pacifica: $top/linked/.local/state/pacifica/journal is not a regular file; not read"$'\n'
}

@test "as root, over other players' homes" {
	[ "$(id -u)" = 0 ] || { report; [ "$status" = 0 ]; return; }
	three_games
	mkdir "$top/nobody"; chown 65534:65534 "$top/nobody"
	(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$top/nobody" "$PACIFICA" "$top/nobody/game" <<<prologue) >/dev/null 2>&1
	report "$home" "$top/nobody"
	[ "$status" = 0 ]
	sed -n 2p "$T/out" | grep -q "^$(id -un 65534) *~/game *1/7 resettle "
	tail -n 1 "$T/out" | grep -qx '2 players, 4 games, 1 finished.'
}

@test "no journal at all" { report; [ "$status" = 0 ]; [ "$(tail -n 1 "$T/out")" = '0 players, 0 games, 0 finished.' ]; report --bogus; [ "$status" = 2 ]; }
