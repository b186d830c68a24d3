#!/usr/bin/env bats
# The teacher's report: records made by real games and records laid with
# fixed times, reported as a table and as CSV; damaged records, links,
# FIFOs and others' records.

load helpers
load texts
load launch

# report [ARG...]: the report in UTC, its status in $status.
report() {
	status=0
	(cd "$top" && TZ=UTC0 env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" --report "$@") >"$T/out" 2>"$T/err" || status=$?
}

# lay FILE GAME DIR EVENT DETAIL STAMP STATE: a line of a record, its
# stamp and the state after it given.
lay() { mkdir -p "${1%/*}"; printf '%s\t%s\t%s\t%s\t%s\t%s\t.\n' "$6" "$2" "$3" "$4" "$5" "$7" >>"$1"; }

# Two games of one player, laid with fixed times: one finished in 39
# minutes of play, one stuck at resettle after 14 runs.
two_games() {
	lay "$journal" 1 "$home/pacifica" begun - 2026-12-08T09:00:00Z 'on=prologue began=1796720400 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1'
	lay "$journal" 2 "$home/stuck" begun - 2026-12-08T09:05:00Z 'on=prologue began=1796720700 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=2'
	lay "$journal" 1 "$home/pacifica" retribute done 2026-12-08T09:39:00Z 'on=finished began=1796720400 done=60,300,600,900,1200,1800,2340 last=retribute:done runs=0 hints=0 active=2340 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=2'
	lay "$journal" 2 "$home/stuck" resettle liar 2026-12-08T09:45:00Z 'on=resettle began=1796720700 done=120,,,,,, last=resettle:liar runs=14 hints=2 active=2400 sessions=2 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=2'
}

# row PLAYER GAME STEPS ON WHY RUNS HINTS BEGAN FINISHED ACTIVE: a line of
# the table, its columns as wide as the words $wide gives for the first,
# the second and the fifth.
row() { printf "%-${wide[0]}s %-${wide[1]}s %5s %-9s %-${wide[2]}s %4s %5s %-11s %-11s %6s\n" "$@" | sed 's/ *$//'; }

@test "games laid with fixed times: the table and the class below it, the CSV of games and of students" {
	two_games; me=$(id -un); printf '%s\n' "$me" '# a comment' '  ' ' nobody ' nobody "$me" zoe >"$T/roster"
	wide=($((${#me} > 6 ? ${#me} : 6)) 10 13)
	COLUMNS=200 report --roster "$T/roster" "$home"
	# zoe is no one: said, after the report, with status 1.
	[ "$status" = 1 ]; same_bytes "$T/err" $'pacifica: zoe of the roster is no user of this machine, and has no game\n'
	bar() { printf "%$1s" | tr ' ' "$2"; }
	same_bytes "$T/out" "$(row PLAYER GAME STEPS ON WHY RUNS HINTS BEGAN FINISHED ACTIVE)
$({ row nobody - 0/7 'not begun'
    row "$me" '~/pacifica' 7/7 finished - 0 0 '12-08 09:00' '12-08 09:39' 39m
    row "$me" '~/stuck' 1/7 resettle 'Jean not home' 14 2 '12-08 09:05' - 40m; } | LC_ALL=C sort -s -k1,1)
1 player, 2 games, 1 finished; 1 not begun.

STEP       DONE   ON
not begun     -    1  $(bar 25 +)
prologue      1    0  $(bar 25 '#')
resettle      1    1  $(bar 25 +)
$(for s in duplicate bridge raze celebrate retribute finished; do printf '%-10s%5s%5s  %s\n' $s 1 "$([ $s = finished ] || echo 0)" "$(bar 25 '#')"; done)"$'\n'
	report --csv --roster "$T/roster" "$home"
	[ "$status" = 1 ]; h=$(hostname)
	same_bytes "$T/out" "player,directory,steps_done,steps,on,runs_since_step,began,last_activity,played_seconds,why,hints_since_step,finished,witness,host,done_prologue,done_resettle,done_duplicate,done_bridge,done_raze,done_celebrate,done_retribute,home"$'\r'"
$({ echo "nobody,,0,7,not begun,,,,,,,,,$h,,,,,,,,"$'\r'
    echo "$me,$home/pacifica,7,7,finished,0,2026-12-08T09:00:00Z,2026-12-08T09:39:00Z,2340,,0,2026-12-08T09:39:00Z,home,$h,2026-12-08T09:01:00Z,2026-12-08T09:05:00Z,2026-12-08T09:10:00Z,2026-12-08T09:15:00Z,2026-12-08T09:20:00Z,2026-12-08T09:30:00Z,2026-12-08T09:39:00Z,$home"$'\r'
    echo "$me,$home/stuck,1,7,resettle,14,2026-12-08T09:05:00Z,2026-12-08T09:45:00Z,2400,Jean not home,2,,home,$h,2026-12-08T09:07:00Z,,,,,,,$home"$'\r'; } | LC_ALL=C sort -s -t, -k1,1)"$'\n'
	cp "$T/out" "$T/class.csv"
	name() { getent passwd "$1" | cut -d: -f5 | cut -d, -f1 | grep . || echo "$1"; }
	for points in '' --points-possible; do
		report --csv --per-student $points --roster "$T/roster" "$home"
		same_bytes "$T/out" "Student,ID,SIS User ID,SIS Login ID,Section,Pacifica steps (of 7)"$'\r\n'"${points:+Points Possible,,,,,7$'\r\n'}$({
			echo "$(name nobody),,,nobody,,0"$'\r'; echo "$(name "$me"),,,$me,,7"$'\r'; } | LC_ALL=C sort -s -t, -k4,4)"$'\n'
	done
	# The CSV of another machine, merged, gives the same rows back.
	report --csv --merge "$T/class.csv"
	[ "$status" = 0 ]; same_bytes "$T/out" "$(cat "$T/class.csv")"$'\n'
	sed "s/,$h,/,lab2,/" "$T/class.csv" >"$T/lab2.csv"
	COLUMNS=200 report --merge "$T/class.csv" "$T/lab2.csv"
	grep -q "^$me *lab2:~/stuck *1/7 resettle *Jean not home " "$T/out"
	grep -qx '1 player, 4 games, 2 finished; 1 not begun.' "$T/out"
}

@test "real games: the report tells what the game shell says" {
	game "$home/pacifica" <<<"$whole_game"
	game "$home/stuck" <<<$'prologue\nresettle\nresettle\nmkdir Pacifica; cp Jean Pacifica/; resettle'
	game "$top/new" </dev/null
	report --wide
	[ "$status" = 0 ]
	sed -n 2,4p "$T/out" | sed 's/^[^ ]* *//; s/  */ /g' | sed 's/ [0-9][0-9]-[0-9][0-9] .*//' | same_bytes /dev/stdin "~/pacifica 7/7 finished - 0 0
~/stuck 1/7 resettle Jean not home 3 0
$top/new 0/7 prologue - 0 0"$'\n'
	grep -qx '1 player, 3 games, 1 finished.' "$T/out"
}

@test "CSV quotes what needs quoting" {
	game "$top/a,\"b\"" </dev/null
	report --csv
	sed -n 2p "$T/out" | grep -q "^$(id -un),\"$top/a,\"\"b\"\"\",0,7,prologue,0,"
}

@test "a damaged record is reported from the lines that can be read" {
	two_games
	printf 'junk\n\0\n2026-12-08T10:00:00Z\t9\t/x\tbegun\tnot\nsecret line\n2026-12-0' >>"$journal"
	report
	[ "$status" = 1 ]; grep -qx '1 player, 2 games, 1 finished.' "$T/out"; grep -qx '5 record lines could not be read and were skipped.' "$T/out"
	grep -q "resettle *Jean not home *14 " "$T/out"
	run grep -c 'secret\|junk' "$T/out"; [ "$output" = 0 ]
	report --csv; [ "$status" = 1 ]
	same_bytes "$T/err" $'pacifica: the report is not whole: 5 record lines could not be read and were skipped\n'
}

@test "places without a record are skipped; links, FIFOs, missing places and others' records are not read" {
	two_games
	for d in empty linked fifo theirs; do mkdir -p "$top/$d/.local/state/pacifica"; done
	ln -s "$journal" "$top/linked/.local/state/pacifica/record"
	mkfifo "$top/fifo/.local/state/pacifica/record"
	# A record in another player's home that is not theirs: only root can lay one.
	theirs=()
	if [ "$(id -u)" = 0 ]; then
		cp "$journal" "$top/theirs/.local/state/pacifica/record"
		chown -R 65534:65534 "$top/theirs"; chown 0:0 "$top/theirs/.local/state/pacifica/record"
		theirs=("$top/theirs")
	fi
	report "$top/empty" "$top/linked" "$top/fifo" "$home" "$top/missing" "${theirs[@]}" "$top/linked/.local/state/pacifica/record"
	[ "$status" = 1 ]
	grep -qx '1 player, 2 games, 1 finished.' "$T/out"
	want="pacifica: $top/empty is no home with a record of play; not read
pacifica: $top/linked/.local/state/pacifica/record is not a regular file of its owner's; not read
pacifica: $top/fifo/.local/state/pacifica/record is not a regular file of its owner's; not read
pacifica: there is no $top/missing; not read"
	[ "$(id -u)" != 0 ] || want+=$'\n'"pacifica: $top/theirs/.local/state/pacifica/record is not a regular file of its owner's; not read"
	same_bytes "$T/err" "$want"$'\n'"pacifica: $top/linked/.local/state/pacifica/record is reached through a symbolic link; not read"$'\n'
}

@test "as root, over other players' homes" {
	[ "$(id -u)" = 0 ] || { report; [ "$status" = 0 ]; return; }
	two_games
	mkdir "$top/nobody"; chown 65534:65534 "$top/nobody"
	(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$top/nobody" "$PACIFICA" "$top/nobody/game" <<<prologue) >/dev/null 2>&1
	report "$home" "$top/nobody"
	[ "$status" = 0 ]
	sed -n 2p "$T/out" | grep -q "^$(id -un 65534) *~/game *1/7 resettle "
	grep -qx '2 players, 3 games, 1 finished.' "$T/out"
	# The class below the table: each player by their furthest game.
	bar() { printf "%$1s" | tr ' ' "$2"; }
	grep -qxF "prologue      2    0  $(bar 50 '#')" "$T/out"
	grep -qxF "resettle      1    2  $(bar 50 +)" "$T/out"
	grep -qxF "finished      1       $(bar 25 '#')" "$T/out"
	report --csv --per-student "$home" "$top/nobody"
	same_bytes <(cut -d , -f 4,6 "$T/out") $'SIS Login ID,Pacifica steps (of 7)\r\nnobody,1\r\n'"$(id -un),7"$'\r\n'
}

@test "no record at all" { report; [ "$status" = 0 ]; [ "$(tail -n 1 "$T/out")" = '0 players, 0 games, 0 finished.' ]; report --bogus; [ "$status" = 2 ]; }

# Lines that are not the record's, each beside a good one: a state with a
# key missing, keys out of order, a number that is not one, a control
# character, a directory that is not absolute, a line past its bound.
bad_lines=(
	$'2026-12-08T10:00:00Z\t3\t/x\tbegun\t-\ton=prologue began=1 done=,,,,,, last=- runs=0\t.'
	$'2026-12-08T10:00:00Z\t3\t/x\tbegun\t-\ton=prologue done=,,,,,, began=1 last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=3\t.'
	$'2026-12-08T10:00:00Z\t3\t/x\tbegun\t-\ton=prologue began=x done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=3\t.'
	$'2026-12-08T10:00:00Z\t3\t/x\x01y\tbegun\t-\ton=prologue began=1 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=3\t.'
	$'2026-12-08T10:00:00Z\t3\tx\tbegun\t-\ton=prologue began=1 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=3\t.'
	"2026-12-08T10:00:00Z	3	/$(printf 'x%.0s' {1..9000})	begun	-	on=prologue began=1 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=3	."
)

@test "a line that is not of the record's form is skipped and counted, whatever is wrong with it" {
	for bad in "${bad_lines[@]}"; do
		rm -f "$journal"; two_games; printf '%s\n' "$bad" >>"$journal"
		report
		grep -qx '1 record line could not be read and was skipped.' "$T/out" ||
			{ echo "not skipped: ${bad:0:80}" >&2; cat "$T/out" >&2; return 1; }
	done
}

@test "what names nothing to report is said in one line with status 1; a home named twice is read once" {
	two_games; game "$home/play" <<<prologue; printf 'notes\n' >"$T/notes"; printf 'a,b\r\n1,2\r\n' >"$T/other.csv"
	while IFS='|' read -r args said; do
		eval "report $args"
		[ "$status" = 1 ] && same_bytes "$T/err" "$said"$'\n' || { echo "report $args" >&2; return 1; }
	done <<-EOF
		"\$home/play"|pacifica: $home/play is a playing directory; its player's home holds the record; not read
		"\$top"|pacifica: $top is no home with a record of play; not read
		"\$T/notes"|pacifica: $T/notes is not a record of play; not read
		--merge "\$T/other.csv"|pacifica: $T/other.csv:1: not a CSV of pacifica --report --csv; not read
		--merge "\$T/notes"|pacifica: $T/notes:1: not a CSV of pacifica --report --csv; not read
		"\$top/x"\$'\e[2J\xc2\x9b\xe2\x80\xae'|pacifica: there is no \$'$top/x\\E[2J\\302\\233\\342\\200\\256'; not read
		--roster "\$T/none"|pacifica: cannot read the roster $T/none: No such file or directory
		--class no-such-group|pacifica: there is no group no-such-group
	EOF
	report "$home" "$home/" "$top/home//" "$journal"
	[ "$status" = 0 ]; grep -qx '1 player, 3 games, 1 finished.' "$T/out"
}

@test "a write that fails is said, with status 1; a reader that stops early is no failure" {
	two_games
	for to in /dev/full '&-'; do
		status=0; eval "(cd \"\$top\" && HOME=\"\$home\" \"\$PACIFICA\" --report --csv >$to) 2>\"\$T/err\"" || status=$?
		[ "$status" = 1 ]; [ "$(wc -l <"$T/err")" = 1 ]; grep -q '^pacifica: cannot write the report: ' "$T/err"
	done
	seq 3 3000 | awk '{ printf "2026-12-08T10:00:00Z\t%s\t/g/%s\tbegun\t-\ton=prologue began=1796724000 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=%s\t.\n", $1, $1, $1 }' >>"$journal"
	(cd "$top" && HOME="$home" "$PACIFICA" --report | head -c 1) >/dev/null 2>"$T/err"
	[ "${PIPESTATUS[0]}" = 0 ] && [ ! -s "$T/err" ]
}

@test "names that would move a terminal are shown escaped, in the table and the CSV, a formula neutralised" {
	bad=$'a\e]0;owned\a\xc2\x9b2J\xe2\x80\xaeb'
	lay "$journal" 1 "$top/$(printf %s "$bad" | sed 's/\x1b/\\x1b/; s/\x07/\\x07/')" begun - 2026-12-08T09:00:00Z 'on=prologue began=1796720400 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1'
	printf '%s\n' '=HYPERLINK("x")' '-2+3' $'\e[31mred' "$(id -un)" >"$T/roster"
	report --roster "$T/roster" --class "$(id -gn)" "$home"
	grep -q "^$(id -un) *\$'$top/a\\\\E]0;owned\\\\a\\\\302\\\\2332J\\\\342\\\\200\\\\256b' *0/7 prologue" "$T/out"
	grep -qxF "pacifica: \$'\\E[31mred' of the roster is no user of this machine, and has no game" "$T/err"
	run grep -c $'\e\|\xc2\x9b\|\xe2\x80\xae' "$T/out" "$T/err"; [ "$output" = "$T/out:0"$'\n'"$T/err:0" ]
	report --csv --roster "$T/roster" --class "$(id -gn)" "$home"
	grep -qF "$(id -un),\$'$top/a\\E]0;owned\\a\\302\\2332J\\342\\200\\256b',0,7,prologue," "$T/out"
	run grep -c $'\e\|\xc2\x9b\|\xe2\x80\xae' "$T/out"; [ "$output" = 0 ]
	# Names of another machine's CSV: shown escaped, and given back neutralised.
	for who in '=HYPERLINK("x")' '-2+3' $'\e[31mred'; do printf '"%s",,0,7,not begun,,,,,,,,,lab,,,,,,,,\r\n' "${who//\"/\"\"}"; done >>"$T/out"
	cp "$T/out" "$T/class.csv"; report --merge "$T/class.csv"
	grep -q "^\$'\\\\E\[31mred' *- *0/7 not begun$" "$T/out"
	report --csv --merge "$T/class.csv"
	grep -qxF "\"'=HYPERLINK(\"\"x\"\")\",,0,7,not begun,,,,,,,,,lab,,,,,,,,"$'\r' "$T/out"
	cp "$T/out" "$T/class.csv"; report --csv --merge "$T/class.csv"; grep -q "^\"'-2+3\",,0,7,not begun," "$T/out"
}

csv_header='player,directory,steps_done,steps,on,runs_since_step,began,last_activity,played_seconds,why,hints_since_step,finished,witness,host,done_prologue,done_resettle,done_duplicate,done_bridge,done_raze,done_celebrate,done_retribute,home'

# lab FILE HOST [MINUTE]: the CSV of a lab machine's class, its games
# begun at MINUTE past 9 (0 by default): one finished, one on the bridge,
# one on resettle, one not begun.
lab() {
	local d=2026-12-08T09 m=${3:-0}
	{ echo "$csv_header"
	  echo "alice,/home/alice/pacifica,7,7,finished,0,$d:0$m:00Z,$d:39:00Z,2340,,0,$d:39:00Z,class,$2,$d:01:00Z,$d:05:00Z,$d:10:00Z,$d:15:00Z,$d:20:00Z,$d:30:00Z,$d:39:00Z,/home/alice"
	  echo "bobsmith,/home/bobsmith/pacifica,3,7,bridge,2,$d:0$m:00Z,$d:44:00Z,2460,wrong word given,1,,class,$2,$d:04:00Z,$d:10:00Z,$d:20:00Z,,,,,/home/bobsmith"
	  echo "chen,/home/chen/pacifica,1,7,resettle,14,$d:0$m:00Z,$d:45:00Z,2400,Jean not home,3,,class,$2,$d:07:00Z,,,,,,,/home/chen"
	  echo "dana,,0,7,not begun,,,,,,,,,$2,,,,,,,,"
	} | sed 's/$/\r/' >"$1"
}

# fits COLUMNS ARG... <<<TABLE: the table of the report at COLUMNS (0: of
# --wide) is TABLE, every line within COLUMNS.
fits() {
	local columns=$1 want; shift; want=$(cat)
	COLUMNS=$columns report "$@"
	[ "$status" = 0 ] && sed '/^[0-9]* players\{0,1\}, /,$d' "$T/out" | same_bytes /dev/stdin "$want"$'\n' &&
		{ [ "$columns" = 0 ] || [ "$(awk '{ n = length > n ? length : n } END { print n + 0 }' "$T/out")" -le "$columns" ]; } ||
		fail "COLUMNS=$columns report $*"
}

@test "the table fits the terminal: what says nothing left out, then what says least; --wide shows it all" {
	lab "$T/lab1.csv" lab1; lab "$T/lab2.csv" lab2
	sed 's|^chen,/home/chen/pacifica,|chen,/home/chen/work,|' "$T/lab2.csv" >"$T/work.csv"
	today=$(date -u +%Y-%m-%d)
	sed "s/2026-12-08T/${today}T/g" "$T/lab1.csv" >"$T/today.csv"
	fits 80 --merge "$T/lab1.csv" <<-'TABLE'
	PLAYER   STEPS ON        WHY              RUNS HINTS FINISHED    ACTIVE
	alice      7/7 finished  -                   0     0 12-08 09:39    39m
	bobsmith   3/7 bridge    wrong word given    2     1 -              41m
	chen       1/7 resettle  Jean not home      14     3 -              40m
	dana       0/7 not begun
	TABLE
	fits 100 --merge "$T/lab1.csv" <<-'TABLE'
	PLAYER   STEPS ON        WHY              RUNS HINTS BEGAN       FINISHED    ACTIVE
	alice      7/7 finished  -                   0     0 12-08 09:00 12-08 09:39    39m
	bobsmith   3/7 bridge    wrong word given    2     1 12-08 09:00 -              41m
	chen       1/7 resettle  Jean not home      14     3 12-08 09:00 -              40m
	dana       0/7 not begun
	TABLE
	fits 0 --wide --merge "$T/lab1.csv" <<-'TABLE'
	PLAYER   GAME       STEPS ON        WHY              RUNS HINTS BEGAN       FINISHED    ACTIVE
	alice    ~/pacifica   7/7 finished  -                   0     0 12-08 09:00 12-08 09:39    39m
	bobsmith ~/pacifica   3/7 bridge    wrong word given    2     1 12-08 09:00 -              41m
	chen     ~/pacifica   1/7 resettle  Jean not home      14     3 12-08 09:00 -              40m
	dana     -            0/7 not begun
	TABLE
	fits 80 --merge "$T/today.csv" <<-'TABLE'
	PLAYER   STEPS ON        WHY              RUNS HINTS BEGAN FINISHED ACTIVE
	alice      7/7 finished  -                   0     0 09:00 09:39       39m
	bobsmith   3/7 bridge    wrong word given    2     1 09:00 -           41m
	chen       1/7 resettle  Jean not home      14     3 09:00 -           40m
	dana       0/7 not begun
	TABLE
	fits 80 --merge "$T/lab1.csv" "$T/lab2.csv" <<-'TABLE'
	PLAYER   HOST STEPS ON        WHY              RUNS HINTS FINISHED    ACTIVE
	alice    lab1   7/7 finished  -                   0     0 12-08 09:39    39m
	alice    lab2   7/7 finished  -                   0     0 12-08 09:39    39m
	bobsmith lab1   3/7 bridge    wrong word given    2     1 -              41m
	bobsmith lab2   3/7 bridge    wrong word given    2     1 -              41m
	chen     lab1   1/7 resettle  Jean not home      14     3 -              40m
	chen     lab2   1/7 resettle  Jean not home      14     3 -              40m
	dana     lab1   0/7 not begun
	TABLE
	fits 80 --merge "$T/lab1.csv" "$T/work.csv" <<-'TABLE'
	PLAYER   GAME            STEPS ON        WHY              RUNS FINISHED ACTIVE
	alice    lab1:~/pacifica   7/7 finished  -                   0 12-08       39m
	alice    lab2:~/pacifica   7/7 finished  -                   0 12-08       39m
	bobsmith lab1:~/pacifica   3/7 bridge    wrong word given    2 -           41m
	bobsmith lab2:~/pacifica   3/7 bridge    wrong word given    2 -           41m
	chen     lab1:~/pacifica   1/7 resettle  Jean not home      14 -           40m
	chen     lab2:~/work       1/7 resettle  Jean not home      14 -           40m
	dana     -                 0/7 not begun
	TABLE
	# A home that begins another's path is no ~ of it.
	sed 's|^chen,/home/chen/pacifica,\(.*\),/home/chen\r$|chen,/home/chenwork,\1,/home/che\r|' "$T/lab1.csv" >"$T/prefix.csv"
	COLUMNS=200 report --merge "$T/prefix.csv"
	grep -q '^chen     /home/chenwork   1/7 resettle' "$T/out"
}

@test "merging a lab: a row that does not fit is skipped and counted, each game once, cloned hosts told apart" {
	lab "$T/lab1.csv" lab1; lab "$T/clone.csv" lab1 1
	# Rows that do not fit their header, each in a copy of the class.
	while IFS='|' read -r what edit; do
		sed "$edit" "$T/lab1.csv" >"$T/bad.csv"
		report --merge "$T/bad.csv"
		[ "$status" = 1 ] && same_bytes "$T/err" "pacifica: $T/bad.csv:3: a row that does not fit the header; skipped
pacifica: the report is not whole: 1 CSV row did not fit its header and was skipped"$'\n' &&
			grep -qx '2 players, 2 games, 1 finished; 1 not begun.' "$T/out" &&
			grep -qx '1 CSV row did not fit its header and was skipped.' "$T/out" || fail "$what"
	done <<-'EOF'
		steps_done against done_*|3s/,3,7,bridge,/,4,7,bridge,/
		on against done_*|3s/,3,7,bridge,/,3,7,raze,/
		a step done before the game began|3s/,2026-12-08T09:04:00Z,/,2026-12-08T08:04:00Z,/
		two fields too few|3s/,[^,]*,[^,]*\r$/\r/
		a quote out of place|3s/bobsmith/bob"smith/
	EOF
	sed '5s/^dana,,0,7,not begun,,/dana,,3,7,not begun,,/' "$T/lab1.csv" >"$T/bad.csv"
	report --merge "$T/bad.csv"; [ "$status" = 1 ]; grep -q "^pacifica: $T/bad.csv:5: a row that does not fit" "$T/err"
	# The same file twice, or two machines' files of one machine: once.
	sed '2d' "$T/lab1.csv" >"$T/part.csv"
	for twice in '"$T/lab1.csv" "$T/lab1.csv"' '"$T/lab1.csv" "$T/part.csv"' '"$T/part.csv" "$T/lab1.csv"'; do
		eval "report --merge $twice"
		[ "$status" = 0 ] && [ ! -s "$T/err" ] && grep -qx '3 players, 3 games, 1 finished; 1 not begun.' "$T/out" || fail "$twice"
	done
	# Two machines that claim one name, with other games.
	report --merge "$T/lab1.csv" "$T/clone.csv"
	[ "$status" = 0 ]; grep -qx '3 players, 6 games, 2 finished; 1 not begun.' "$T/out"
	same_bytes "$T/err" "pacifica: $T/clone.csv and $T/lab1.csv both name the host lab1 with different games; $T/clone.csv's are shown as lab1 ($T/clone.csv)"$'\n'
	grep -q "^chen *lab1 ($T/clone.csv) *1/7 resettle " "$T/out"
	# Options after the files are options; an unknown one, refused before anything.
	report --merge "$T/lab1.csv" --csv
	[ "$status" = 0 ]; same_bytes "$T/out" "$(cat "$T/lab1.csv")"$'\n'
	report --merge "$T/lab1.csv" --bogus; [ "$status" = 2 ]; [ ! -s "$T/out" ]
	# A carriage return in a field is read, and written as the table shows
	# it, with no carriage return of its own.
	sed '4s/,Jean not home,/,"Jean\rnot home",/' "$T/lab1.csv" >"$T/cr.csv"
	report --csv --merge "$T/cr.csv"; [ "$status" = 0 ]
	same_bytes "$T/out" "$(sed '4s/,Jean not home,/,$'\''Jean\\rnot home'\'',/' "$T/lab1.csv")"$'\n'
}

@test "the class below the table: where each student has been furthest and where they are now, bars that fit" {
	bar() { printf "%$1s" | tr ' ' "$2"; }
	# 101 players: 100 on prologue, one on resettle.
	{ echo "$csv_header"
	  for i in $(seq -w 100); do echo "p$i,/home/p$i/pacifica,0,7,prologue,0,2026-12-08T09:00:00Z,2026-12-08T09:00:00Z,0,,0,,class,lab,,,,,,,,/home/p$i"; done
	  echo "q,/home/q/pacifica,1,7,resettle,0,2026-12-08T09:00:00Z,2026-12-08T09:01:00Z,60,,0,,class,lab,2026-12-08T09:01:00Z,,,,,,,/home/q"
	} | sed 's/$/\r/' >"$T/many.csv"
	report --merge "$T/many.csv"
	grep -qxF "prologue      1  100  #$(bar 49 +)" "$T/out"; grep -qxF "resettle      0    1  +" "$T/out"
	# One who set a celebrate game aside is stuck on resettle now.
	lab "$T/lab1.csv" lab1
	d=2026-12-08T
	printf '%s\r\n' "alice,/home/alice/pacifica.1,5,7,celebrate,0,${d}08:00:00Z,${d}08:30:00Z,1800,,0,,class,lab1,${d}08:01:00Z,${d}08:05:00Z,${d}08:10:00Z,${d}08:15:00Z,${d}08:20:00Z,,,/home/alice" \
		"alice,/home/alice/pacifica,1,7,resettle,3,${d}10:00:00Z,${d}10:20:00Z,1200,Jean not home,0,,class,lab1,${d}10:01:00Z,,,,,,,/home/alice" >"$T/over.csv"
	sed 1,2d "$T/lab1.csv" >>"$T/over.csv"; sed -i "1i $csv_header"$'\r' "$T/over.csv"
	report --merge "$T/over.csv"
	same_bytes <(sed -n '/^STEP/,$p' "$T/out") "STEP       DONE   ON
not begun     -    1  $(bar 13 +)
prologue      3    0  $(bar 38 '#')
resettle      2    2  $(bar 13 '#')$(bar 25 +)
duplicate     2    0  $(bar 25 '#')
bridge        1    1  $(bar 13 '#')$(bar 13 +)
raze          1    0  $(bar 13 '#')
celebrate     0    0
retribute     0    0
finished      0"$'\n'
}

# A game on STEP in ~/pacifica whose program last said KEY.
on_step() {
	local done=60,,,,,, on=$1
	[ "$on" = resettle ] || done=60,120,,,,,
	lay "$journal" 1 "$home/pacifica" "$1" "$2" 2026-12-08T09:00:00Z "on=$on began=1796720400 done=$done last=$1:$2 runs=1 hints=0 active=60 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1"
}

@test "WHY names the mistake the hints find in the playing directory, else the program's answer" {
	while IFS='|' read -r step key made why; do
		rm -rf "$home/pacifica" "$journal" "$top/elsewhere"; mkdir -p "$home/pacifica"
		(cd "$home/pacifica" && "$BIN/prologue" >/dev/null && eval "$made")
		on_step "$step" "$key"
		report --csv; [ "$status" = 0 ]
		[ "$(sed -n 2p "$T/out" | cut -d , -f 10)" = "$why" ] || fail "$made: $(sed -n 2p "$T/out" | cut -d , -f 10)"
	done <<-'EOF'
		resettle|liar|mkdir pacifica; mv Jean pacifica/|pacifica for Pacifica
		resettle|liar|mkdir Pacifica; mv Jean Pacifica/jean|jean for Jean
		resettle|liar|mkdir -p Pacifica/x; mv Jean Pacifica/x/|Jean one level too deep
		resettle|liar|mkdir Pacifca; mv Jean Pacifca/|Pacifca for Pacifica
		resettle|liar|true|Jean not home
		resettle|liar|cd .. && mv pacifica elsewhere && ln -s elsewhere pacifica && cd elsewhere && mkdir pacifica && mv Jean pacifica/|Jean not home
		duplicate|scared|mkdir Pacifica Pacifica_copy; mv Jean Pacifica/; cp Pacifica/Jean Pacifica_copy/|Pacifica_copy for Pacifica_Copy
		duplicate|scared|mkdir Pacifica; mv Jean Pacifica/|Jean in one place
	EOF
	# The playing directory of someone else than the record's owner is not looked at.
	[ "$(id -u)" = 0 ] || return 0
	rm -rf "$home/pacifica" "$journal"; mkdir -p "$home/pacifica/pacifica"; (cd "$home/pacifica" && "$BIN/prologue" >/dev/null && mv Jean pacifica/)
	chown -R 65534 "$home/pacifica"; on_step resettle liar
	report --csv; [ "$(sed -n 2p "$T/out" | cut -d , -f 10)" = 'Jean not home' ]
}

@test "a roster of others is refused where the report cannot see them" {
	two_games; printf 'nobody\n' >"$T/roster"
	for args in "--roster $T/roster" "--class $(id -gn)" "--csv --roster $T/roster"; do
		report $args
		[ "$status" = 1 ] && [ ! -s "$T/out" ] &&
			same_bytes "$T/err" $'pacifica: there is no class record here, only your own games: name the homes to read, as in pacifica --report --roster FILE /home/*\n' ||
			fail "$args"
	done
}

@test "a new term: a playing directory with a game the record does not know says what to type, and --new sets it aside" {
	mkdir -p "$home/pacifica/Pacifica" "$top/mine" "$top/game"
	(cd "$home/pacifica" && "$BIN/prologue" >/dev/null && cp Jean "$home/Jean")
	printf 'my own Jean\n' >"$top/mine/Jean"; mkdir "$top/mine/Pacifica"
	touch "$home/pacifica/notes" "$top/game/emergenETALIMISSAm-_sion.txt"
	while IFS='|' read -r args status_wanted said; do
		eval "game $args" </dev/null
		[ "$status" = "$status_wanted" ] && grep -qxF "$said" "$T/err" || fail "pacifica $args: $(cat "$T/err")"
	done <<-EOF
		|1|pacifica: $home/pacifica holds a game that the record does not know; 'pacifica --new' sets it aside as $home/pacifica.1, deleting nothing, and begins a new one
		--new|1|pacifica: the game in $home/pacifica is set aside only when asked: add --yes
		"\$top/game"|1|pacifica: $top/game holds a game that the record does not know; 'pacifica --new $top/game' sets it aside as $top/game.1, deleting nothing, and begins a new one
		--new --yes "\$top/mine"|1|pacifica: $top/mine is not empty and holds no game of pacifica's; give a new or empty directory
		--new --yes "\$home"|1|pacifica: $home is not empty and holds no game of pacifica's; give a new or empty directory
	EOF
	game --new --yes </dev/null
	[ "$status" = 0 ]; grep -qxF "The game in $home/pacifica is set aside in $home/pacifica.1." "$T/out"
	[ "$(listing "$home/pacifica.1")" = $'./Jean\n./Pacifica\n./notes' ]; [ -z "$(ls -A "$home/pacifica")" ]
	same_bytes "$top/mine/Jean" $'my own Jean\n'; [ ! -e "$top/mine.1" ]
	events | same_bytes /dev/stdin "$home/pacifica"$'\tbegun\n'"$home/pacifica"$'\tleft\n'
}

@test "with the class record: a roster for teachers only, one made a teacher since told to log in again, unread records named by login" {
	[ "$(id -u)" = 0 ] || skip "installing the recorder set-group-id games needs root"
	cls=$(mktemp -d -t class.XXXXXX); chmod 755 "$cls"
	# Only the launcher and the recorder know the prefix: they are built
	# for it, unoptimised; the programs are the build under test's.
	cmake -S "$SOURCE_DIR" -B "$cls/build" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX="$cls/prefix" >/dev/null
	mkdir -p "$cls/build/libexec/pacifica"; cp -p "$LEVELS"/{prologue,resettle,duplicate,raze,celebrate,retribute} "$cls/build/libexec/pacifica/"
	cmake --build "$cls/build" -j2 --target pacifica-record_installed >/dev/null && cmake --install "$cls/build" >/dev/null
	P=$cls/prefix/bin/pacifica REC=$cls/prefix/var/games/pacifica
	printf 'teachers = nogroup\n' >"$cls/prefix/etc/pacifica.conf"
	mkdir "$top/nobody"; chown 65534:65534 "$top/nobody"; printf 'nobody\n' >"$top/roster"
	(cd "$top/nobody" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$top/nobody" "$P" "$top/nobody/game" <<<prologue) >/dev/null 2>&1
	# A record the recorder did not leave, of a user with no name.
	printf 'x\n' >"$REC/65532"; chown 65532:0 "$REC/65532"
	as() {
		status=0
		(cd "$top" && setpriv --reuid="$1" --regid="$2" --clear-groups env HOME="$top/nobody" "$P" --report "${@:3}") >"$T/out" 2>"$T/err" || status=$?
	}
	while IFS='|' read -r uid gid said; do
		as "$uid" "$gid" --roster "$top/roster"
		[ "$status" = 1 ] && [ ! -s "$T/out" ] && same_bytes "$T/err" "pacifica: $said"$'\n' || { rm -rf "$cls"; fail "$uid:$gid"; }
	done <<-'EOF'
		65533|65533|only root and the teachers of the group nogroup may report on other players' games
		65534|65533|you were made a teacher (of the group nogroup) after you logged in: log out and in again to report on the class
	EOF
	as 65534 65534 --roster "$top/roster"
	[ "$status" = 0 ] && [ ! -s "$T/err" ] && grep -q '^nobody .* 1/7 resettle ' "$T/out" || { rm -rf "$cls"; fail teacher; }
	as 0 0
	[ "$status" = 1 ]; same_bytes "$T/err" "pacifica: the class record of user 65532 could not be read: $REC/65532 is not as the recorder left it"$'\npacifica: the report is not whole: 1 record could not be read\n'
	# Not one of the students asked for: the report of them is whole.
	as 0 0 --roster "$top/roster"
	[ "$status" = 0 ] && [ ! -s "$T/err" ] || { rm -rf "$cls"; fail "roster: $(cat "$T/err")"; }
	rm -rf "$cls"
}
