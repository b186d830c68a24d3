# Shared by the launcher's suites: a home, a playing directory and a
# TMPDIR of their own per case, the launcher run as a player starts it,
# and the record's events.

setup() {
	case_dirs
	home=$top/home play=$top/play
	mkdir "$top" "$home" "$play" "$top/tmp"
	state=$home/.local/state/pacifica
	journal=$state/record
}

# game [ARG...] < COMMANDS: the launcher with a home and TMPDIR of its own,
# typed to by COMMANDS; standard output and error to files, the status in
# $status, and in $T/said the lines of standard error that are not bash's
# own (its prompt with the echoed command, and its job control notices).
game() {
	status=0
	(cd "$top" && env -u XDG_STATE_HOME -u PACIFICA_GAME HOME="$home" TMPDIR="$top/tmp" "$PACIFICA" "$@") \
		>"$T/out" 2>"$T/err" || status=$?
	grep -v '^\[pacifica: \|^bash: cannot set terminal process group\|^bash: no job control' "$T/err" >"$T/said" || :
}

# open_game [--player] DIR: a game shell in DIR that reads its commands
# from fd 7, typed with type_in, its output in $T/open.out and
# $T/open.err; --player starts it as the unprivileged player, who then
# owns everything below $top.  A game that does not end within 30 s is
# ended, so that close_game fails instead of waiting for ever.
open_game() {
	local as=()
	if [ "$1" = --player ]; then
		shift
		[ "$EUID" != 0 ] || { chown -R 65534:65534 "$top"; as=(setpriv --reuid=65534 --regid=65534 --clear-groups); }
	fi
	# The shell answers through a FIFO in $top, which the player can reach.
	mkfifo "$T/in" "$top/answer"; chmod 666 "$top/answer"
	exec 8<>"$top/answer"
	(cd "$top" && exec timeout -k 5 30 "${as[@]}" env -u XDG_STATE_HOME -u PACIFICA_GAME HOME="$home" TMPDIR="$top/tmp" \
		"$PACIFICA" "$1" <"$T/in" >"$T/open.out" 2>"$T/open.err" 3>&-) &
	open_pid=$!
	exec 7>"$T/in"
}
type_in() { printf '%s\n' "$@" >&7; }
# answered: waits until the game shell has run all that was typed in,
# for at most 30 s; the shell's PID in $shell_pid.
answered() {
	type_in "echo \$\$ >$top/answer"
	read -r -t 30 -u 8 shell_pid || fail "the game shell did not answer within 30 s: $(cat "$T/open.err")"
}
# reading PID: waits until the game shell PID is blocked waiting for what
# is typed, for at most 10 s, so that a signal sent to it then cannot fall
# between bash's last look for signals and its read, where it would wait
# for a line that never comes.
reading() {
	local i
	for ((i = 0; i < 200; i++)); do
		[[ "$(cat "/proc/$1/wchan" 2>/dev/null)" != @(pipe_read|*poll*|*select*) ]] || return 0
		sleep 0.05
	done
	fail "the game shell did not come to read within 10 s"
}
# close_game [STATUS]: ends the input and waits for the shell to end, with
# STATUS if given; game_ended waits without ending the input first.
close_game() { exec 7>&-; game_ended "$@"; }
game_ended() {
	local s=0
	wait "$open_pid" || s=$?
	exec 7>&- 8>&-; rm -f "$T/in" "$top/answer"
	# timeout's own statuses, when it ended the shell.
	[ "$s" != 124 ] && [ "$s" != 137 ] || fail "the game shell did not end within 30 s"
	[ -z "${1-}" ] || [ "$s" = "$1" ] || fail "the game shell ended with status $s, want $1"
}

# The record as events: DIR TAB EVENT [TAB DETAIL] a line, without the
# times, the games' numbers and the state each line carries.
events() { awk -F '\t' '{ print $3 "\t" $4 ($5 == "-" ? "" : "\t" $5) }' "$journal"; }

# listing DIR: the entries below DIR, one a line.
listing() { (cd "$1" && find . -mindepth 1 | sort); }

# The step map as the game shows it, with the first DONE steps done.
steps_map() {
	local i=0 mark line
	local lines=('prologue    begins it: Jean, a file, is a long way from home'
		'resettle    Jean must be home, in a directory called Pacifica'
		'duplicate   Jean must be backed up: a true copy in Pacifica_Copy'
		$'confirm_shellwatch_message WORD\n                confirm the alert; the Grob stronghold then stands here'
		'raze        the Grob stronghold must be deleted'
		'celebrate   a Grob hides in the crowd; he must be put in a jail'
		'retribute   the jail must become an indefinite_detention_center')
	echo 'The steps of the story; * marks those done, > the one you are on:'
	for line in "${lines[@]}"; do
		if [ "$i" -lt "$1" ]; then mark='*'; elif [ "$i" = "$1" ]; then mark='>'; else mark=' '; fi
		printf '  %s %s\n' "$mark" "$line"
		i=$((i + 1))
	done
	[ "$1" != 7 ] || echo 'Every step is done: the game is finished.'
}

# The commands of a whole game, from the start.
whole_game=$'prologue\nmkdir Pacifica; mv Jean Pacifica/\nresettle\nmkdir Pacifica_Copy; cp Pacifica/Jean Pacifica_Copy/\nduplicate
confirm_shellwatch_message towards\nrm -r yklim_yaw\nraze\ncelebrate\nmkdir jail; mv .grob jail/\ncelebrate
mv jail indefinite_detention_center\nretribute'
