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
	[ "$(grep -cx function "$T/out")" = 4 ] || { cat "$T/out" "$T/err" >&2; return 1; }
	grep -q '^\[pacifica: prologue\] ' "$T/err"
}
probe=$'type -t steps hint confirm_shellwatch_message prologue\nresettle; echo "still here"'

@test "whatever the player's bashrc or environment does, the game shell comes up with its commands" {
	for rc in 'kill -INT $$' 'alias steps=ls hint=ls; alias prologue=false' 'set -e' 'exit' 'logout' \
		'PROMPT_COMMAND="PS1=X"' 'set -u; set -o noclobber; shopt -s failglob nullglob; IFS=:' \
		'steps() { :; }; function prologue { :; }' 'cd /; CDPATH=/'; do
		printf '%s\n' "$rc" >"$home/.bashrc"
		play=$top/rc$((++n)); game "$play" <<<"$probe"
		commands_present; grep -qx 'still here' "$T/out"
		grep -qx 'Stuck? Type '\''hint'\''.' "$T/said"
	done
	printf 'set -f -C\n' >"$home/.bashrc"
	play=$top/rc$((++n)); game "$play" <<<$'prologue\nresettle\nhint\nsteps >/dev/null\necho "options $-"'
	grep -qx 'options .*f.*C.*' "$T/out" || grep -qx 'options .*C.*f.*' "$T/out"
	rm "$home/.bashrc"
	for env in POSIXLY_CORRECT=1 CDPATH=. BASH_ENV=/dev/null "TMPDIR=relative" "TMPDIR=$top/missing"; do
		play=$top/env$((++n)); (cd "$top" && env -u XDG_STATE_HOME HOME="$home" "$env" "$PACIFICA" "$play" <<<"$probe") >"$T/out" 2>"$T/err"
		commands_present; [ ! -e "$top/relative" ]
		grep -q '^Liar' "$T/out"; [ "$(events | cut -f 2- | tail -n 2 | head -n 1)" = $'resettle\tliar' ]
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
		type_in prologue; answered
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
	# The home holds the record, its view and the shell's history, nothing
	# more.
	same_bytes <(listing "$home") $'./.bash_history\n./.local\n./.local/state\n./.local/state/pacifica\n./.local/state/pacifica/record\n./.local/state/pacifica/view\n'
}

@test "a record at its bound carries on in a new generation that begins with each game's latest line" {
	game "$top/old" <<<prologue
	mkdir -p "$state"
	{ cat "$journal"; for i in $(seq 1024); do printf '#%04095d\n' 0; done; } >"$T/full"
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
	line=$(tail -n 1 "$journal")
	n=$(((4 * 1024 * 1024 - $(stat -c %s "$journal")) / (${#line} + 1)))
	for ((i = 0; i < n; i++)); do printf '%s\n' "$line"; done >>"$journal"
	size=$(stat -c %s "$journal")
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
	head -c 10000 /dev/zero | tr '\0' x >>"$journal"
	status=0; "$PACIFICA" --report --csv "$home" >"$T/out" 2>"$T/err" || status=$?
	grep -q "^$(id -un),$play,1,7," "$T/out"
	[ "$status" = 1 ]; grep -qxF 'pacifica: the report is not whole: 1 record line could not be read and was skipped' "$T/err"
}

@test "root reads nothing of a student's: no start-up file of theirs, no record reached through a link they laid" {
	[ "$(id -u)" = 0 ] || skip "needs root and another user"
	mkdir -p "$top/student" "$top/rootonly/state/pacifica"; chown 65534:65534 "$top/student"
	printf 'touch "%s/sourced"\n' "$top" >"$top/student/.bashrc"; chown 65534:65534 "$top/student/.bashrc"
	printf 'mine\n' >"$top/mine"; chmod 700 "$top/rootonly"
	(cd "$top" && env -u XDG_STATE_HOME HOME="$top/student" TMPDIR="$top/tmp" "$PACIFICA" "$play" <<<'echo "in the game"') >"$T/out" 2>&1
	grep -qx 'in the game' "$T/out"; [ ! -e "$top/sourced" ]
	# A record of root's, behind a link the student laid in a leading
	# component of the place root names.
	game "$top/rootgame" <<<prologue; mv "$journal" "$top/rootonly/state/pacifica/record"
	as_player ln -s "$top/rootonly" "$top/student/.local"
	run "$PACIFICA" --report "$top/student/.local/state/pacifica/record"
	[ "$status" = 1 ]; [ "${lines[0]}" = "pacifica: $top/student/.local/state/pacifica/record is reached through a symbolic link; not read" ]
	[[ "$output" != *rootgame* ]]
}
