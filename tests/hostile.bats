#!/usr/bin/env bats
# The launcher under hostile names, environments, state files and signals:
# it refuses in one line and writes nothing, or plays with the game's
# commands in place, and never touches a file of the player's outside the
# game.

load helpers
load texts
load launch

# commands_present: the game shell came up whole, as the last game showed.
commands_present() {
	[ "$(grep -cx alias "$T/out")" = 4 ] || { cat "$T/out" "$T/err" >&2; return 1; }
	grep -q '^\[pacifica: prologue\] ' "$T/err"
}
probe=$'type -t steps hint confirm_shellwatch_message prologue\nresettle; echo "still here"'

@test "whatever the player's bashrc or environment does, the game shell comes up with its commands" {
	for rc in 'kill -INT $$' 'alias steps=ls hint=ls; alias prologue=false' 'set -e' 'exit' 'logout' \
		'PROMPT_COMMAND="PS1=X"' 'set -u; set -o noclobber; shopt -s failglob nullglob; IFS=:' \
		'steps() { :; }; function prologue { :; }' 'cd /; CDPATH=/' 'alias() { :; }'; do
		printf '%s\n' "$rc" >"$home/.bashrc"
		play=$top/rc$((++n)); game "$play" <<<"$probe"
		commands_present; grep -qx 'still here' "$T/out"
		grep -qx 'Stuck? Type '\''hint'\''.' "$T/said"
	done
	printf 'set -f -C\n' >"$home/.bashrc"
	play=$top/rc$((++n)); game "$play" <<<$'prologue\nresettle\nhint\nsteps >/dev/null\necho "options $-"'
	grep -qx 'options .*f.*C.*' "$T/out" || grep -qx 'options .*C.*f.*' "$T/out"
	rm "$home/.bashrc"
	for env in POSIXLY_CORRECT=1 CDPATH=. BASH_ENV=/dev/null "TMPDIR=relative" "TMPDIR=$top/missing" 'BASH_FUNC_alias%%=() { :; }'; do
		play=$top/env$((++n)); (cd "$top" && env -u XDG_STATE_HOME HOME="$home" "$env" "$PACIFICA" "$play" <<<"$probe") >"$T/out" 2>"$T/err"
		commands_present; [ ! -e "$top/relative" ]
		grep -q '^Liar' "$T/out"; [ "$(events | cut -f 2- | tail -n 2 | head -n 1)" = $'resettle\tliar' ]
	done
}

# IFS of the player's ~/.bashrc|what is typed|the step the last prompt
# shows: an IFS that splits at the last letter of a step's name.
ifs_rows=(
	'IFS=" e"|prologue|resettle'
	'IFS=" e"|prologue\nmkdir Pacifica; mv Jean Pacifica/\nresettle|duplicate'
	'IFS=$'"'"'e \t\n'"'"'|prologue\nmkdir Pacifica; mv Jean Pacifica/\nresettle|duplicate'
)

@test "whatever IFS the player's bashrc sets, the prompt shows the step whole" {
	for row in "${ifs_rows[@]}"; do
		IFS='|' read -r rc typed want <<<"$row"
		printf '%s\n' "$rc" >"$home/.bashrc"
		play=$top/ifs$((++n)); game "$play" <<<"$(printf %b "$typed")"
		[ "$(grep -o '^\[pacifica: [^]]*\]' "$T/err" | tail -n 1)" = "[pacifica: $want]" ] ||
			fail "$rc: $(grep -o '^\[pacifica: [^]]*\]' "$T/err" | tail -n 1), want $want"
	done
}

@test "hostile names: a trailing newline, a dash, control characters" {
	mkdir "$top/docs"; printf 'mine\n' >"$top/docs/Jean"
	game "$top/docs"$'\n' <<<prologue
	[ "$status" = 0 ]; same_bytes "$top/docs/Jean" $'mine\n'; has_file "$top/docs"$'\n/Jean' 644 "$jean"
	game $'\n' <<<prologue
	[ "$status" = 0 ]; [ -f "$top"/$'\n'/Jean ]; [ ! -e "$top/Jean" ]
	game - <<<prologue
	[ "$status" = 0 ]; [ -f "$top/-/Jean" ]
	ln -s "$top/-" "$top/link"; game "$top/link" </dev/null
	head -n 1 "$T/out" | grep -qx "Welcome back to Pacifica.  Your game is in $top/-, as you left it."
	game "$top/a"$'\e'"b" </dev/null
	grep -qxF "Your playing directory is \$'$top/a\\Eb'." "$T/out"
	for round in 1 2; do LC_ALL=C.UTF-8 game "$top/"$'\xff\t\\' <<<prologue; done
	grep -qx '1 of 7 steps done.' "$T/out"; LC_ALL=C grep -qF "$top/"$'\xff''\x09\\'$'\tresumed' "$journal"
	game "$top/$(printf 'x%.0s' {1..5000})" </dev/null
	[ "$status" = 1 ]; same_bytes "$T/err" $'pacifica: the name of the playing directory is too long\n'
	game "$top/long/$(printf 'y%.0s' {1..300})/play" </dev/null
	[ "$status" = 1 ]; grep -q ': File name too long$' "$T/err"; [ ! -e "$top/long" ]
	same_bytes <(events | cut -f 2 | grep -c begun) $'5\n'
}

@test "hostile state: an old journal with junk, NUL bytes and a line cut short; a record that can be read but not written" {
	mkdir -p "$state"; printf x >"$play/Jean"
	{
		printf '2026-12-01T10:00:00Z\t%s\tbegun\n' "$play"
		printf 'junk\0\t%s\tbegun\n\xff\xfe\n' "$play"
		printf '2026-12-01T10:01:00Z\t%s\tprologue\tbriefing\n' "$play"
		printf '2026-12-01T10:02:00Z\t%s\tresettle\thome' "$play"
	} >"$state/journal"
	game "$play" <<<steps
	[ "$status" = 0 ]; grep -qx '2 of 7 steps done.' "$T/out"; [ ! -e "$state/journal" ]
	[ "$(events | cut -f 2- | tr '\n' ,)" = $'taken\tjournal,resumed,left,' ]
	grep -q $'\ttaken\tjournal\ton=duplicate began=1796119200 done=60~,120~,' "$journal"
	chmod 555 "$state"; [ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	for mode in 644 444; do
		chmod "$mode" "$journal"
		(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$play" <<<$'mkdir Pacifica; mv Jean Pacifica/; cp Pacifica/Jean .; resettle\nsteps') >"$T/out" 2>"$T/err"
		grep -qx '2 of 7 steps done.' "$T/out"
		grep -qx '  > duplicate   Jean must be backed up: a true copy in Pacifica_Copy' "$T/out"
		rm -r "$play/Pacifica" "$play/Jean"; printf x >"$play/Jean"
	done
	grep -qxF "pacifica: cannot write to $journal; this game is remembered only until you leave" "$T/err"
}

@test "a record that is a FIFO, a link or another name of a file is refused; an old list that is a FIFO is passed over" {
	mkdir -p "$state"; printf 'mine\n' >"$top/mine"
	for bad in 'mkfifo "$journal"' 'ln -s "$top/mine" "$journal"' 'ln "$top/mine" "$journal"'; do
		rm -f "$journal"; eval "$bad"
		rm -rf "$top/new"; (cd "$top" && timeout 10 env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$top/new" <<<prologue) >"$T/out" 2>"$T/err"
		grep -qxF "pacifica: $journal is not a regular file of yours, so no game can be remembered; playing on" "$T/err" ||
			grep -qxF "pacifica: $journal is not a regular file of yours, so no game can be remembered" "$T/err"
		[ -f "$top/new/Jean" ]; same_bytes "$top/mine" $'mine\n'
	done
	rm "$journal"; mkfifo "$state/games"
	timeout 10 env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$top/new2" </dev/null >"$T/out" 2>"$T/err"
	grep -q '^Welcome' "$T/out"
}

@test "hostile environments: no PATH, no standard error, a relative HOME, a relative or missing TMPDIR" {
	(cd "$top" && env -i HOME="$home" "$PACIFICA" "$play" <<<'echo "path=$PATH"') >"$T/out" 2>/dev/null
	grep -q '^path=' "$T/out"; run grep -c '^path=.*:\.\(:\|$\)' "$T/out"; [ "$output" = 0 ]
	(cd "$top" && env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$play" <<<prologue 2>&-) >"$T/out"
	[ -f "$play/Jean" ]; grep -q '^Your game is kept' "$T/out"
	(cd "$top" && env -u XDG_STATE_HOME HOME=rel "$PACIFICA" </dev/null) >"$T/out" 2>"$T/err" || :
	same_bytes "$T/err" $'pacifica: HOME is not an absolute path; name the playing directory: pacifica DIR\n'
	[ ! -e "$top/rel" ]
	for tmp in relative "$top/missing"; do
		(cd "$top" && TMPDIR=$tmp "$PACIFICA" --walkthrough >"$T/out" 2>&1)
		tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
	done
	[ "$(ls "$top")" = $'home\nplay\ntmp' ]
}

@test "too few descriptors are refused in one line before anything is looked at; enough resume the game as left" {
	game "$play" <<<prologue
	cp "$journal" "$T/record"
	for nofile in 5 10 15 16; do
		status=0
		(cd "$top" && exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&- env -u XDG_STATE_HOME HOME="$home" prlimit --nofile=$nofile "$PACIFICA" "$play" </dev/null) \
			>"$T/out" 2>"$T/err" || status=$?
		if [ "$nofile" -lt 16 ]; then
			[ "$status" = 1 ] && [ ! -s "$T/out" ] || fail "nofile $nofile: status $status: $(cat "$T/out")"
			same_bytes "$T/err" "pacifica: ulimit -n $nofile leaves the game too few descriptors; it needs 16"$'\n'
			cmp "$journal" "$T/record"
		else
			grep -qxF "Welcome back to Pacifica.  Your game is in $play, as you left it." "$T/out" || fail "$(cat "$T/out" "$T/err")"
		fi
		[ "$(ls "$play")" = Jean ]
	done
}

@test "an install directory whose path holds a colon plays" {
	cp -R "$STAGE" "$top/a:b"
	"$top/a:b/bin/pacifica" --walkthrough >"$T/out"
	tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
	PACIFICA=$top/a:b/bin/pacifica game "$play" <<<prologue
	[ -f "$play/Jean" ]
}

@test "root plays only in a directory of its own" {
	[ "$(id -u)" = 0 ] || { game "$play" </dev/null; [ "$status" = 0 ]; return; }
	mkdir "$top/theirs"; chown 65534:65534 "$play" "$top/theirs"
	game "$play" <<<prologue
	[ "$status" = 1 ]; same_bytes "$T/err" "pacifica: $play belongs to another user; root plays only in a directory of its own"$'\n'
	game "$top/theirs/new" <<<prologue
	[ "$status" = 1 ]; [ ! -e "$top/theirs/new" ]; [ ! -e "$play/Jean" ]; [ ! -e "$home/.local" ]
}

@test "a hangup or a TERM ends the game, leaving no process, descriptor or file of its own, and a whole record" {
	for signal in HUP:129 TERM:143; do
		play=$top/${signal%:*}; open_game "$play"
		type_in prologue; answered; reading "$shell_pid"
		kill -"${signal%:*}" "$shell_pid"
		game_ended "${signal#*:}"
		# Whatever of the game still ran would hold its input or output.
		[ -z "$(find /proc/[0-9]*/fd -lname "$T/open.*" -o -lname "$T/in*" 2>/dev/null)" ] ||
			fail "after a ${signal%:*}, a process of the game holds its input or output"
		[ -z "$(ls -A "$top/tmp")" ]; same_bytes <(listing "$play") $'./Jean\n'
		same_bytes <(events | grep -F "$play") "$play"$'\tbegun\n'"$play"$'\tprologue\tbriefing\n'"$play"$'\tleft\n'
		# Every line whole, ending in its mark and a newline; the last the
		# player's leaving.
		[ -z "$(grep -v $'\t\\.$' "$journal")" ]; tail -c 1 "$journal" | same_bytes /dev/stdin $'\n'
		[ "$(tail -n 1 "$journal" | cut -f 3,4)" = "$play"$'\tleft' ]
	done
	# The home holds the record, its index, its view and the shell's
	# history, nothing more.
	same_bytes <(listing "$home") $'./.bash_history\n./.local\n./.local/state\n./.local/state/pacifica\n./.local/state/pacifica/index\n./.local/state/pacifica/record\n./.local/state/pacifica/view\n'
}

@test "however the game shell ends, the game is left once, with the shell's status" {
	# how|status: typed at the shell, a signal that kills it, or one sent to
	# the recorder that waits for it ($PPID), which passes a hangup or a
	# TERM on and is not ended by a Ctrl-C's.  The shell waits for what is
	# passed on in a read of a FIFO that nothing writes to, which the
	# signal ends.
	mkfifo "$top/tmp/wait"
	for row in 'exit 3|3' 'exec true|0' 'kill -USR1 $$|138' '(exit 0)|0' 'kill -INT $PPID|0' \
		'kill -TERM $PPID; read -r -t 20 _ <>"$TMPDIR/wait"|143' 'kill -HUP $PPID; read -r -t 20 _ <>"$TMPDIR/wait"|129'; do
		play=$top/end$((++n)); open_game "$play"
		type_in prologue "${row%|*}"
		close_game "${row#*|}"
		same_bytes <(events | grep -F "$play") "$play"$'\tbegun\n'"$play"$'\tprologue\tbriefing\n'"$play"$'\tleft\n'
		grep -qx "    pacifica $play" "$T/open.out" || fail "${row%|*}: no word on how to come back"
	done
}

@test "a record at its bound carries on in a new generation that begins with each game's latest line" {
	game "$top/old" <<<prologue
	mkdir -p "$state"
	{ cat "$journal"; yes "#$(printf %04095d 0)" | head -n 1024; } >"$T/full"
	cp "$T/full" "$journal"
	game "$play" <<<$'prologue\nresettle\nmkdir Pacifica; mv Jean Pacifica/; resettle'
	[ ! -s "$T/said" ] || grep -v '^Next:\|^Stuck' "$T/said" | { ! grep .; }
	cmp "$T/full" "$state/record.1"
	same_bytes <(cut -f 3,4,5 "$journal" | sed 's/\t-$//') "$top/old"$'\tleft\n'"$play"$'\tbegun\n'"$play"$'\tprologue\tbriefing\n'"$play"$'\tresettle\tliar\n'"$play"$'\tresettle\thome\n'"$play"$'\tleft\n'
	# Both games go on where they were.
	game "$top/old" <<<steps
	grep -qx '1 of 7 steps done.' "$T/out"
	game "$play" <<<steps
	grep -qx '2 of 7 steps done.' "$T/out"
}

@test "a record at its bound that cannot begin a new generation takes no more, and the game is remembered for the session" {
	game "$play" <<<prologue
	# The record a few lines short of the most a generation may hold.
	line=$(tail -n 1 "$journal")
	bound=$((4 * 1024 * 1024 + 8192 - 600))
	n=$(((bound - $(stat -c %s "$journal")) / (${#line} + 1) - 1))
	yes "$line" | head -n "$n" >>"$journal"
	pad=$((bound - $(stat -c %s "$journal") - 2))
	printf '#%*s\n' "$pad" '' >>"$journal"
	[ "$(stat -c %s "$journal")" = "$bound" ]
	chmod 555 "$state"; [ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$play" <<<$'mkdir Pacifica; mv Jean Pacifica/; resettle\nsteps') \
		>"$T/out" 2>"$T/err"
	chmod 755 "$state"
	[ "$(stat -c %s "$journal")" -le $((4 * 1024 * 1024 + 8192)) ]; [ ! -e "$state/record.1" ]
	grep -qxF "pacifica: cannot write to $journal; this game is remembered only until you leave" "$T/err"
	grep -qx '  > duplicate   Jean must be backed up: a true copy in Pacifica_Copy' "$T/out" || { cat "$T/out" "$T/err" >&2; return 1; }
}

# Damage after a record's last good line, and what the next start makes of
# it: the game goes on at its step, and its next line stands on its own.
damages=('junk\n' '\0\0\n' '2026-12-09T10:00:00Z\t1\t/x\tbegun\t-\ton=prologue' 'x\ty\n2026-12-09T10:00:00Z\t1')

@test "a record whose last lines are damaged or cut short goes on from its last good line" {
	for damage in "${damages[@]}"; do
		play=$top/d$((++n)); game "$play" <<<prologue
		printf "$damage" >>"$journal"
		game "$play" <<<steps
		grep -qx '1 of 7 steps done.' "$T/out" || { echo "after '$damage'" >&2; return 1; }
		[ "$(tail -n 1 "$journal" | cut -f 3-4)" = "$play"$'\tleft' ]
	done
}

@test "a recorder whose standard descriptors are closed writes nothing but lines into the record" {
	game "$play" <<<prologue
	for close in '1>&-' '2>&-' '1>&- 2>&-' '0<&- 1>&- 2>&-'; do
		for verb in 'run resettle' 'run prologue' hint steps 'note hint' 'view -e'; do
			(cd "$play" && eval "env -u XDG_STATE_HOME HOME=\"\$home\" PACIFICA_GAME=1 \"\$STAGE/libexec/pacifica-record\" $verb $close") || :
		done
	done
	bad=$(grep -Evc $'^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z\t[0-9]+\t/[^\t]*\t[a-z_]+\t[^\t]+\t[^\t]+\t\\.$' "$journal") || :
	[ "$bad" = 0 ] || fail "lines not the recorder's: $(cat -A "$journal")"
	[ "$(grep -c $'\tresettle\t' "$journal")" = 4 ]
}

@test "the recorder, run by hand, says what it is for" {
	for args in '' 'bogus' 'run' 'run ls'; do
		run "$STAGE/libexec/pacifica-record" $args
		[ "$status" = 2 ] || { echo "'$args' gave $status" >&2; return 1; }
	done
	[ "${lines[0]}" = 'pacifica: usage: pacifica-record run PROGRAM [ARG...]' ]
}

# record @ what the report says of it: files no record can be, read in
# bounded time.
unreadable=(
	'truncate -s 20G "$journal" @ is larger than a record can be'
	'head -c 1M /dev/urandom | tr -d "\n" >"$journal" @ is not a record of play'
	'{ head -c 2M /dev/zero | tr "\0" "x"; echo; } >"$journal" @ is not a record of play'
	'game "$top/tail" <<<prologue; yes "not a line of the record" | head -c 100K >>"$journal" @ is not a record of play'
)

@test "a report of a home reads no more of a record than one can be, and counts a stretch that is no line" {
	for row in "${unreadable[@]}"; do
		lay=${row% @ *} said=${row#* @ }
		rm -rf "$state"; mkdir -p "$state"; eval "$lay"
		status=0; timeout 10 "$PACIFICA" --report "$home" >"$T/out" 2>"$T/err" || status=$?
		[ "$status" = 1 ] || fail "'$lay': status $status"
		same_bytes "$T/err" "pacifica: $home/.local/state/pacifica/record $said; not read"$'\n'
	done
	rm -rf "$state"
	game "$play" <<<prologue
	# A stretch longer than the reader's chunk between two games' lines,
	# and one at the end: each is one line skipped.
	{ head -c 100000 /dev/zero | tr '\0' x; echo; } >>"$journal"
	game "$top/second" <<<prologue
	head -c 10000 /dev/zero | tr '\0' x >>"$journal"
	status=0; "$PACIFICA" --report --csv "$home" >"$T/out" 2>"$T/err" || status=$?
	grep -q "^$(id -un),$play,1,7," "$T/out"; grep -q "^$(id -un),$top/second,1,7," "$T/out"
	[ "$status" = 1 ]; same_bytes "$T/err" $'pacifica: the report is not whole: 2 record lines could not be read and were skipped\n'
}

@test "root reads nothing of a student's: no start-up file of theirs, no record reached through a link they laid" {
	[ "$(id -u)" = 0 ] || skip "needs root and another user"
	mkdir -p "$top/student" "$top/rootonly/state/pacifica"; chown 65534:65534 "$top/student"
	printf 'touch "%s/sourced"\n' "$top" >"$top/student/.bashrc"; chown 65534:65534 "$top/student/.bashrc"
	printf 'mine\n' >"$top/mine"; chmod 700 "$top/rootonly"
	(cd "$top" && env -u XDG_STATE_HOME HOME="$top/student" TMPDIR="$top/tmp" "$PACIFICA" "$play" <<<'echo "in the game"') >"$T/out" 2>&1
	grep -qx 'in the game' "$T/out"; [ ! -e "$top/sourced" ]
	# Nor one of a student's in a home of root's.
	mkdir "$top/roots"; cp -p "$top/student/.bashrc" "$top/roots/.bashrc"
	(cd "$top" && env -u XDG_STATE_HOME HOME="$top/roots" TMPDIR="$top/tmp" "$PACIFICA" "$top/rootsgame" <<<'echo "in the game"') >"$T/out" 2>&1
	grep -qx 'in the game' "$T/out"; [ ! -e "$top/sourced" ]
	# A record of root's, behind a link the student laid in a leading
	# component of the place root names.
	game "$top/rootgame" <<<prologue; mv "$journal" "$top/rootonly/state/pacifica/record"
	as_player ln -s "$top/rootonly" "$top/student/.local"
	run "$PACIFICA" --report "$top/student/.local/state/pacifica/record"
	[ "$status" = 1 ]; [ "${lines[0]}" = "pacifica: $top/student/.local/state/pacifica/record is reached through a symbolic link; not read" ]
	[[ "$output" != *rootgame* ]]
}

# An index that does not hold, damaged or forged or of another record,
# and what it is then made of: the same as with none.
index_rows=(
	'as the recorder left it|:'
	'another game'"'"'s line|dd if="$index" of="$index" bs=1 skip=$(slot "$index" 2) seek=$(slot "$index" 1) count=16 conv=notrunc status=none'
	'past the end|poke "$index" $(slot "$index" 1) q $(($(stat -c %s "$journal") + 100))'
	'into the middle of a line|poke "$index" $(slot "$index" 1) q $(($(peek "$index" $(slot "$index" 1)) + 7))
		poke "$index" $(($(slot "$index" 1) + 8)) L $(($(peek "$index" $(($(slot "$index" 1) + 8))) % 4294967296 - 7))'
	'the previous generation, of which there is none|poke "$index" $(($(slot "$index" 1) + 12)) L 1'
	"at an older line, the record having taken the game's next line since|awk -F '\\t' '\$2 == 1' \"\$journal\" | tail -n 1 >>\"\$journal\""
	"another game's directory|retable \"\$index\""
	"a directory's entry lost|retable \"\$index\" lost"
	'made for the record a moment before|poke "$index" 40 q $(($(peek "$index" 40) + 1))'
	'truncated|truncate -s 300 "$index"'
	'emptied|: >"$index"'
	'a link to a copy|mv "$index" "$T/copy"; ln -s "$T/copy" "$index"'
)

@test "an index that does not hold, damaged, stale or of another record, finds the same games as none" {
	# Game 1, then games 2 and 3 played after it; the index made by the
	# last line, a hint in game 3.
	lay() { printf '2026-12-08T09:%02d:00Z\t%s\t%s\t%s\t%s\ton=%s began=1796720400 done=%s last=%s runs=0 hints=0 active=60 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=%s games=%s\t.\n' "$@" >>"$journal"; }
	mkdir -p "$state" "$top/one" "$top/two" "$top/three"; touch "$top/one/Jean" "$top/two/Jean"
	lay 0 1 "$top/one" begun - prologue ,,,,,, - 0 1
	lay 1 1 "$top/one" prologue briefing resettle 60,,,,,, prologue:briefing 1 1
	lay 2 2 "$top/two" begun - prologue ,,,,,, - 0 2
	lay 3 2 "$top/two" prologue briefing resettle 60,,,,,, prologue:briefing 0 2
	lay 4 3 "$top/three" begun - prologue ,,,,,, - 0 3
	(cd "$top/three" && HOME="$home" PACIFICA_GAME=3 "$STAGE/libexec/pacifica-record" note hint)
	[ -s "$state/index" ]
	cp "$journal" "$T/saved"; cp "$state/index" "$T/saved.index"; mtime=$(stat -c %.9Y "$journal")
	index=$state/index
	# outcome NAME: the game found by number, every game for the report, a
	# start in game 1's directory and one in a new directory.
	outcome() {
		(cd "$top/one" && HOME="$home" PACIFICA_GAME=1 "$STAGE/libexec/pacifica-record" steps) >"$T/$1" 2>&1
		(cd "$top" && TZ=UTC0 HOME="$home" "$PACIFICA" --report --csv "$home") >>"$T/$1" 2>&1
		game "$top/one" <<<steps; cat "$T/out" "$T/err" >>"$T/$1"
		game "$top/new" <<<steps; cat "$T/out" "$T/err" >>"$T/$1"
		cut -f 2-5 "$journal" >>"$T/$1"
	}
	for row in "${index_rows[@]}"; do
		for with in index none; do
			cat "$T/saved" >"$journal"; touch -d "@$mtime" "$journal"; rm -rf "$top/new"
			rm -f "$index"; cp "$T/saved.index" "$index"
			eval "${row#*|}"
			[ "$with" = index ] || rm -f "$index"
			outcome "$with"
		done
		cmp "$T/index" "$T/none" || { echo "an index ${row%%|*}:"; diff "$T/index" "$T/none"; return 1; } >&2
	done
	grep -qx '1 of 7 steps done.' "$T/none"; grep -q ",$top/three,0,7,prologue," "$T/none"
}
