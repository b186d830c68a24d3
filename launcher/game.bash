# The game's commands in its shell: the six programs run and judged, the
# step map, the bridge, hints and help.  Read by the game shell after the
# player's ~/.bashrc, with aliases off, and by the walkthrough.  Every name
# but the game's commands begins with pacifica_, and external tools are
# called through "command", past any function of the player's.
# shellcheck shell=bash

# Where the game's own lines go: standard error as the shell started, so
# that a player's redirection of a program holds the program's bytes only.
pacifica_say() { printf '%s\n' "$@" >&"${pacifica_say_fd:-2}"; }

# pacifica_wrap WIDTH TEXT: TEXT with every line longer than WIDTH broken
# at blanks, never inside a word; in REPLY.
pacifica_wrap() {
	local width=$1 rest=$2 line cut
	REPLY=
	while [ -n "$rest" ]; do
		if [[ $rest == *$'\n'* ]]; then line=${rest%%$'\n'*}; rest=${rest#*$'\n'}; cut=$'\n'
		else line=$rest; rest=; cut=
		fi
		while [ "${#line}" -gt "$width" ]; do
			local head=${line:0:width+1}
			if [[ $head == *' '* ]]; then head=${head% *}
			elif [[ $line == *' '* ]]; then head=${line%% *}
			else break
			fi
			REPLY+=$head$'\n'
			line=${line:${#head}}
			line=${line# }
		done
		REPLY+=$line$cut
	done
}

# pacifica_show TEXT: a program's standard output as it printed it, or a
# text of the game's that names a directory, its long lines broken at
# blanks when it goes to a terminal.
pacifica_show() {
	if [ -t 1 ] && [ "${COLUMNS:-0}" -gt 1 ] 2>/dev/null; then
		pacifica_wrap "$COLUMNS" "$1"
		printf '%s' "$REPLY"
	else
		printf '%s' "$1"
	fi
}

# pacifica_tell TEXT: a line of the game's own, fitted to 80 columns.
pacifica_tell() {
	local width=80
	[ "${COLUMNS:-80}" -ge 80 ] 2>/dev/null || width=${COLUMNS:-80}
	pacifica_wrap "$((width - 1))" "$1"
	printf '%s\n' "$REPLY" >&"${pacifica_say_fd:-2}"
}

# pacifica_split ROW: the fields of a row of the story's table, in
# pacifica_row.
pacifica_split() {
	local - IFS='|'
	set -f
	# shellcheck disable=SC2206
	pacifica_row=($1)
}

# pacifica_find_row TABLE KEY: the row of TABLE (an array's name) whose
# first field is KEY, split in pacifica_row; status 1 when there is none.
pacifica_find_row() {
	local -n table=$1
	local row
	for row in "${table[@]}"; do
		[[ $row != "$2|"* ]] || { pacifica_split "$row"; return 0; }
	done
	pacifica_row=()
	return 1
}

# pacifica_answer PROGRAM STATUS OUTPUT: the answer that a run gave, by
# the story's table, in pacifica_key ("other" when none fits) and
# pacifica_completes (1 when it completes the program's step).
pacifica_answer() {
	local row
	pacifica_key=other pacifica_completes=
	for row in "${pacifica_answer_rows[@]}"; do
		[[ $row == "$1|"* ]] || continue
		pacifica_split "$row"
		[ "${pacifica_row[2]}" = "$2" ] || continue
		case ${pacifica_row[4]-} in
		'') [ -z "$3" ] || continue ;;
		'*') ;;
		*) [[ $3 == "${pacifica_row[4]}"* ]] || continue ;;
		esac
		pacifica_key=${pacifica_row[1]}
		[ "${pacifica_row[3]}" != 'done' ] || pacifica_completes=1
		break
	done
}

pacifica_here() { [ . -ef "$pacifica_game" ]; }

# Two files of this shell's own for the output of judged runs, made on the
# first run, by the shell itself: O_EXCL refuses a name that stands.
pacifica_capture() {
	[ -z "${pacifica_capture-}" ] || return 0
	local - name try
	pacifica_tmp
	set -C
	for try in 1 2 3; do
		name=$REPLY/pacifica-run.$$.$RANDOM$RANDOM
		if { : >"$name.out" && : >"$name.err"; } 2>/dev/null; then
			pacifica_capture=$name
			break
		fi
	done
	[ -n "${pacifica_capture-}" ]
}

pacifica_uncapture() {
	[ -z "${pacifica_capture-}" ] || command rm -f -- "$pacifica_capture.out" "$pacifica_capture.err"
	pacifica_capture=''
}

# The directory for temporary files, in REPLY: TMPDIR when it is an
# absolute path to a directory that can be written, /tmp otherwise.
pacifica_tmp() {
	REPLY=/tmp
	[[ ${TMPDIR-} != /* ]] || [ ! -d "$TMPDIR" ] || [ ! -w "$TMPDIR" ] || REPLY=$TMPDIR
}

# pacifica_judge PROGRAM [ARG...]: runs a program of the game as the player
# typed it, shows exactly what it printed, records its answer when it ran
# in the playing directory, then says what the game makes of it.
pacifica_judge() {
	local program=$1 out='' err='' status
	shift
	if ! pacifica_capture; then
		pacifica_say "pacifica: no temporary directory for the game's runs; this run is not recorded"
		"$pacifica_libexec/$program" "$@"
		return
	fi
	"$pacifica_libexec/$program" "$@" >|"$pacifica_capture.out" 2>|"$pacifica_capture.err"
	status=$?
	# Everything a program writes to standard output comes before what it
	# writes to standard error, so replaying them in turn is exact.
	IFS= read -r -d '' out <"$pacifica_capture.out"
	IFS= read -r -d '' err <"$pacifica_capture.err"
	pacifica_show "$out"
	printf '%s' "$err" >&2
	pacifica_answer "$program" "$status" "$out"
	if pacifica_here; then
		pacifica_note "$program" "$pacifica_key"
		pacifica_judged "$program"
	else
		pacifica_shown "$pacifica_game"
		pacifica_tell "The programs judge the directory they run in; this run was not counted. Your game is in $REPLY."
	fi
	return "$status"
}

# pacifica_judged PROGRAM: what the game says after a recorded run.
pacifica_judged() {
	pacifica_last=$1:$pacifica_key
	pacifica_refused=
	pacifica_hinted=()
	if [ "$pacifica_last" = raze:victory ] && [[ ,$pacifica_done, != *,bridge,* ]]; then
		pacifica_tell "No stronghold has been built in this game yet, so this does not count: first read the alert file and confirm it with confirm_shellwatch_message."
		pacifica_nudge
	elif [ -n "$pacifica_completes" ]; then
		pacifica_next
	elif [ "$pacifica_last" != celebrate:planted ]; then
		pacifica_nudge
	fi
}

# The line that sends the player on, or the end of the game.
pacifica_next() {
	if [ "$pacifica_current" = finished ]; then
		local back=${pacifica_back:-pacifica}
		pacifica_played
		pacifica_duration "$REPLY"
		pacifica_tell "The game is finished: all $pacifica_ndone steps are done, in $REPLY of play. To play again, leave and type: ${back/pacifica/pacifica --new}"
	else
		pacifica_find_row pacifica_step_rows "$pacifica_current"
		pacifica_tell "${pacifica_row[3]}"
	fi
}

# pacifica_duration SECONDS: as a player reads it, in REPLY.
pacifica_duration() {
	local s=$1
	if [ "$s" -lt 60 ]; then REPLY="less than a minute"
	elif [ "$s" -lt 120 ]; then REPLY="1 minute"
	elif [ "$s" -lt 3600 ]; then REPLY="$((s / 60)) minutes"
	else printf -v REPLY '%d h %02d min' "$((s / 3600))" "$((s % 3600 / 60))"
	fi
}

# Once per situation, after an answer that is not yet right.
pacifica_nudge() {
	[ "$pacifica_hints" = on ] || return 0
	pacifica_situation
	[ -z "${pacifica_nudged[$REPLY]-}" ] || return 0
	pacifica_nudged[$REPLY]=1
	pacifica_say "$pacifica_nudge"
}
declare -gA pacifica_nudged=() pacifica_hinted=()

# The step map, marking the steps done and the one the player is on.
steps() {
	local row mark
	printf '%s\n' "The steps of the story; * marks those done, > the one you are on:"
	for row in "${pacifica_step_rows[@]}"; do
		pacifica_split "$row"
		if [[ ,${pacifica_done-}, == *,${pacifica_row[0]},* ]]; then mark='*'
		elif [ "${pacifica_row[0]}" = "${pacifica_current-}" ]; then mark='>'
		else mark=' '
		fi
		if [ "${#pacifica_row[1]}" -gt 11 ]; then
			printf '  %s %s\n%16s%s\n' "$mark" "${pacifica_row[1]}" '' "${pacifica_row[2]}"
		else
			printf '  %s %-11s %s\n' "$mark" "${pacifica_row[1]}" "${pacifica_row[2]}"
		fi
	done
	[ "${pacifica_current-}" != finished ] || printf '%s\n' "Every step is done: the game is finished."
}

# The bridge over the step that the game leaves to the world outside it:
# the confirmation, the capture and the escape.  Given the word the alert
# asks for, it builds the stronghold that raze wants gone, once per game,
# inside the playing directory as it stands and through no link.
confirm_shellwatch_message() {
	local lower=${1-}
	lower=${lower,,}
	if [ "$#" != 1 ] || [ "$lower" != "$pacifica_word" ]; then
		pacifica_refused=1
		echo "confirm_shellwatch_message: give it the 10th word of the message in the alert file" >&2
		return 1
	fi
	if [[ ,$pacifica_done, == *,bridge,* ]]; then
		if [ -d "$pacifica_game/$pacifica_stronghold/" ]; then
			echo "The Grob stronghold you escaped from still stands in your playing"
			echo "directory, starting at yklim_yaw."
		else
			echo "You have escaped from the Grob stronghold once already in this game;"
			echo "it is not built again."
		fi
		return 0
	fi
	local path=$pacifica_game part err IFS=$' \t\n'
	pacifica_shown "$pacifica_game"
	if [ ! -d "$path" ] || [ -L "$path" ]; then
		echo "confirm_shellwatch_message: your playing directory $REPLY is gone" >&2
		return 1
	fi
	for part in ${pacifica_stronghold//\// }; do
		path+=/$part
		if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then
			echo "confirm_shellwatch_message: ${path#"$pacifica_game"/} is in the way of the stronghold; move it aside" >&2
			return 1
		fi
	done
	if ! err=$(command mkdir -p -- "$path" 2>&1); then
		echo "confirm_shellwatch_message: ${err#mkdir: }" >&2
		return 1
	fi
	pacifica_note bridge
	pacifica_refused=
	pacifica_hinted=()
	cat <<'EOF'
Message confirmed.  The confirmation, and what comes of it, are played
outside this game; here the story goes on as if you had confirmed it, been
caught by the Grob and escaped from their stronghold.  That stronghold now
stands in your playing directory, starting at yklim_yaw.
EOF
	pacifica_next
}

# The hints are read when first needed, with aliases off as this file is.
pacifica_load_hints() {
	local aliases=''
	! shopt -q expand_aliases || aliases=1
	shopt -u expand_aliases
	# shellcheck source=/dev/null
	. "$pacifica_share/hints.bash"
	[ -z "$aliases" ] || shopt -s expand_aliases
}
hint() { pacifica_load_hints && hint "$@"; }
pacifica_situation() { pacifica_load_hints && pacifica_situation "$@"; }

prologue() { pacifica_judge prologue "$@"; }
resettle() { pacifica_judge resettle "$@"; }
duplicate() { pacifica_judge duplicate "$@"; }
raze() { pacifica_judge raze "$@"; }
celebrate() { pacifica_judge celebrate "$@"; }
retribute() { pacifica_judge retribute "$@"; }

help() {
	if [ "$#" -gt 0 ]; then builtin help "$@"; return; fi
	cat <<'EOF'
The game's own commands:
  steps                            the steps of the story, and where you are
  hint                             a hint for where you are; again for more
  help                             this list; help NAME gives bash's help
  confirm_shellwatch_message WORD  confirms the alert, as it asks
  exit                             leaves the game; pacifica comes back to it
The programs prologue, resettle, duplicate, raze, celebrate and retribute
each judge the directory they run in.
EOF
}
