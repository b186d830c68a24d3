# The journal: one line per event of a player's games, only ever appended
# to, and the progress of a game as it follows from it.  Read by the
# launcher and by the game shell.
# shellcheck shell=bash

# The lists that journal.awk needs, taken from the story's tables.
pacifica_step_names='' pacifica_completing='' pacifica_programs=''
pacifica_read_tables() {
	local row program key
	for row in "${pacifica_step_rows[@]}"; do
		pacifica_step_names+=${pacifica_step_names:+ }${row%%|*}
	done
	for row in "${pacifica_answer_rows[@]}"; do
		program=${row%%|*} key=${row#*|}
		[[ " $pacifica_programs " == *" $program "* ]] || pacifica_programs+=${pacifica_programs:+ }$program
		# PROGRAM|KEY|STATUS|done|OPENING: an answer that completes a step.
		[[ ${row#*|*|*|} != done\|* ]] || pacifica_completing+=${pacifica_completing:+ }$program:${key%%|*}
	done
}
pacifica_read_tables

# pacifica_encode STRING: STRING as the journal holds it, in REPLY: a
# backslash and every control character escaped, so that a line is a line
# and a field a field whatever a directory is called.
pacifica_encode() {
	local LC_ALL=C s=$1 c i
	if [[ $s != *[[:cntrl:]\\]* ]]; then REPLY=$s; return; fi
	REPLY=
	for ((i = 0; i < ${#s}; i++)); do
		c=${s:i:1}
		case $c in
		\\) REPLY+=\\\\ ;;
		[[:cntrl:]]) printf -v c '\\x%02x' "'$c"; REPLY+=$c ;;
		*) REPLY+=$c ;;
		esac
	done
}

# pacifica_shown STRING: STRING as it may be printed, in REPLY: as it is,
# or escaped when it holds a control character.
pacifica_shown() {
	local LC_ALL=C
	if [[ $1 == *[[:cntrl:]]* ]]; then printf -v REPLY '%q' "$1"; else REPLY=$1; fi
}

# Finds the journal, creating nothing: pacifica_journal is its path, or
# empty with pacifica_nojournal saying why no game can be remembered.
pacifica_find_journal() {
	local base=${XDG_STATE_HOME-}
	pacifica_journal='' pacifica_nojournal=''
	case $base in
	/*) ;;
	*)
		case ${HOME-} in
		/*) base=$HOME/.local/state ;;
		'') pacifica_nojournal="HOME is not set, so no game can be remembered"; return 1 ;;
		*) pacifica_nojournal="HOME is not an absolute path, so no game can be remembered"; return 1 ;;
		esac
		;;
	esac
	pacifica_state=$base/pacifica
	pacifica_journal=$pacifica_state/journal
	if [ -e "$pacifica_journal" ] && [ ! -f "$pacifica_journal" ]; then
		pacifica_nojournal="$pacifica_journal is not a regular file, so no game can be remembered"
		pacifica_journal=
		return 1
	fi
}

# Lines of this session that the journal could not take, kept to be read
# with it.
pacifica_unwritten=()

# pacifica_note EVENT [DETAIL]: one line for the game in pacifica_game,
# appended with a single write, so that two shells of one player never mix
# their lines; and the event counted in the game's progress.
pacifica_note() {
	local t=$EPOCHSECONDS now
	TZ=UTC0 printf -v now '%(%Y-%m-%dT%H:%M:%SZ)T' "$t"
	pacifica_encode "$pacifica_game"
	pacifica_append "$now"$'\t'"$REPLY"$'\t'"$1${2:+$'\t'$2}"
	pacifica_fold "$t" "$1" "${2-}"
	pacifica_count
}

# pacifica_append LINE: to the journal, or kept in memory when it cannot
# be written, with one line saying so the first time.
pacifica_append() {
	if [ -n "$pacifica_journal" ] && [ "${#pacifica_unwritten[@]}" = 0 ] &&
		{ [ -f "$pacifica_journal" ] || { [ ! -e "$pacifica_journal" ] && [ ! -L "$pacifica_journal" ]; }; } &&
		{ [ -d "$pacifica_state" ] || command mkdir -p -m 700 -- "$pacifica_state" 2>/dev/null; } &&
		{ printf '%s\n' "$1" >>"$pacifica_journal"; } 2>/dev/null; then
		return 0
	fi
	if [ -n "$pacifica_journal" ] && [ "${#pacifica_unwritten[@]}" = 0 ]; then
		pacifica_shown "$pacifica_journal"
		printf 'pacifica: cannot write to %s; this game is remembered only until you leave\n' "$REPLY" >&2
	fi
	pacifica_unwritten+=("$1")
}

# The progress of the game in pacifica_game, as it follows from its journal
# lines in order: pacifica_known (empty while no game is known there),
# pacifica_done (the steps done, by commas), pacifica_ndone,
# pacifica_current (the first step not done, or "finished"), pacifica_runs
# (judged runs since the last step was done), pacifica_last (the last
# answer of a program, PROGRAM:KEY) and the time played, which
# pacifica_played tells.  journal.awk derives the same for the report.
pacifica_known='' pacifica_done='' pacifica_ndone=0 pacifica_current=prologue pacifica_runs=0 pacifica_last=''
pacifica_taken='' pacifica_open='' pacifica_time=0 pacifica_played_before=0 pacifica_stamp=''

# pacifica_fold TIME EVENT [DETAIL]: one event, TIME in seconds.
pacifica_fold() {
	local t=$1 previous
	case $2 in
	begun | taken)
		[ -z "$pacifica_known" ] || pacifica_session_end "$pacifica_time"
		pacifica_known=1 pacifica_taken='' pacifica_done='' pacifica_runs=0 pacifica_last=''
		pacifica_played_before=0 pacifica_open=$t pacifica_time=$t
		[ "$2" != taken ] || pacifica_taken=1
		return
		;;
	esac
	[ -n "$pacifica_known" ] || return 1
	previous=$pacifica_time
	[ "$t" -le "$pacifica_time" ] || pacifica_time=$t
	case $2 in
	resumed) pacifica_session_end "$previous"; pacifica_open=$t ;;
	left) pacifica_session_end "$t" ;;
	bridge) pacifica_step_done bridge ;;
	aside) pacifica_known='' ;;
	*)
		pacifica_runs=$((pacifica_runs + 1)) pacifica_last=$2:$3
		if [[ " $pacifica_completing " == *" $2:$3 "* ]] &&
			{ [ "$2" != raze ] || [[ ,$pacifica_done, == *,bridge,* ]]; }; then
			pacifica_step_done "$2"
		fi
		;;
	esac
}

pacifica_session_end() {
	[ -z "$pacifica_open" ] || [ "$1" -le "$pacifica_open" ] ||
		pacifica_played_before=$((pacifica_played_before + $1 - pacifica_open))
	pacifica_open=''
}

pacifica_step_done() {
	[[ ,$pacifica_done, == *,$1,* ]] && return
	pacifica_done+=${pacifica_done:+,}$1 pacifica_runs=0
}

# Counts the steps done.  A game taken over from a version that kept no
# journal counts every step before the furthest one done as done.
pacifica_count() {
	local step far='' IFS=$' \t\n'
	pacifica_ndone=0 pacifica_current=finished
	for step in $pacifica_step_names; do
		[[ ,$pacifica_done, != *,$step,* ]] || far=$step
	done
	for step in $pacifica_step_names; do
		if [[ ,$pacifica_done, == *,$step,* ]] || { [ -n "$pacifica_taken" ] && [ -n "$far" ]; }; then
			pacifica_ndone=$((pacifica_ndone + 1))
		elif [ "$pacifica_current" = finished ]; then
			pacifica_current=$step
		fi
		[ "$step" != "$far" ] || far=''
	done
}

# The seconds played: the sessions, from begun or resumed to left, one
# still open counting to its last event.
pacifica_played() {
	REPLY=$pacifica_played_before
	[ -z "$pacifica_open" ] || REPLY=$((REPLY + pacifica_time - pacifica_open))
}

# pacifica_read_journal: the game's progress from its lines in the journal
# and those not written to it; pacifica_cut is set when the journal's last
# line was cut short.
pacifica_read_journal() {
	local LC_ALL=C line enc lines=()
	pacifica_known='' pacifica_cut=''
	pacifica_encode "$pacifica_game"
	enc=$REPLY
	if [ -n "$pacifica_journal" ] && [ -f "$pacifica_journal" ] && [ -r "$pacifica_journal" ]; then
		# Read with their newlines, so that a last line without one shows.
		mapfile lines <"$pacifica_journal"
		[[ ${lines[-1]-$'\n'} == *$'\n' ]] || pacifica_cut=1
		for line in ${lines[@]+"${lines[@]}"}; do
			[[ $line != *$'\t'"$enc"$'\t'* ]] || pacifica_fold_line "${line%$'\n'}" "$enc"
		done
	fi
	for line in ${pacifica_unwritten[@]+"${pacifica_unwritten[@]}"}; do
		pacifica_fold_line "$line" "$enc"
	done
	# The time of the last event, when it was not worked out on the way.
	if [ -n "$pacifica_stamp" ]; then
		pacifica_epoch "$pacifica_stamp"
		[ "$REPLY" -le "$pacifica_time" ] || pacifica_time=$REPLY
	fi
	pacifica_count
}

# pacifica_fold_line LINE GAME: a journal line of the game GAME (encoded)
# counted, if it is one; any other line is passed over.  No field that is
# used can hold a control character once it is found to be what it must
# be.  Times are worked out only where sessions begin and end, and for the
# last event.
pacifica_fold_line() {
	local rest=${1#*$'\t'} stamp=${1%%$'\t'*} event detail='' t
	[[ $stamp == [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z ]] &&
		[ "${rest%%$'\t'*}" = "$2" ] || return 0
	rest=${rest#*$'\t'}
	event=${rest%%$'\t'*}
	[ "$event" = "$rest" ] || detail=${rest#*$'\t'}
	[[ $detail != *$'\t'* ]] || return 0
	case $event in
	begun | taken | resumed | left | bridge) [ "$event" = "$rest" ] || return 0 ;;
	aside) [[ $detail == /* ]] || return 0 ;;
	*) [[ " $pacifica_programs " == *" $event "* && $detail == [a-z]* && $detail != *[!a-z]* ]] || return 0 ;;
	esac
	case $event in
	begun | taken | resumed | left)
		pacifica_epoch "$stamp"
		t=$REPLY pacifica_stamp=''
		;;
	*) t=$pacifica_time pacifica_stamp=$stamp ;;
	esac
	pacifica_fold "$t" "$event" "$detail" || :
}

# pacifica_epoch STAMP: that time (UTC, ISO 8601) in seconds, in REPLY.
pacifica_epoch() {
	local y=$((10#${1:0:4})) month=$((10#${1:5:2})) era yoe doy
	((month > 2)) || y=$((y - 1))
	era=$((y / 400)) yoe=$((y - y / 400 * 400))
	doy=$(((153 * ((month + 9) % 12) + 2) / 5 + 10#${1:8:2} - 1))
	REPLY=$(((era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468) * 86400 +
		10#${1:11:2} * 3600 + 10#${1:14:2} * 60 + 10#${1:17:2}))
}

# pacifica_take_over: the games that version 1.0.0 listed, in two files
# beside the journal, as journal lines in pacifica_unwritten; those files
# are removed by pacifica_settle once the journal holds the lines.
pacifica_take_over() {
	pacifica_old=
	[ -n "$pacifica_journal" ] && [ -f "$pacifica_state/games" ] || return 0
	pacifica_old=1
	local now line journal=/dev/null strongholds=/dev/null
	[ ! -f "$pacifica_journal" ] || journal=$pacifica_journal
	[ ! -f "$pacifica_state/strongholds" ] || strongholds=$pacifica_state/strongholds
	TZ=UTC0 printf -v now '%(%Y-%m-%dT%H:%M:%SZ)T' -1
	while IFS= read -r line; do
		pacifica_unwritten+=("$line")
	done < <(command awk -v now="$now" '
		FILENAME == ARGV[1] { split($0, f, "\t"); if (f[3] == "begun" || f[3] == "taken") have[f[2]] = 1; next }
		index($0, "\0") || $0 !~ /^\// || $0 ~ /[\001-\037\177]/ { next }
		{ dir = $0; gsub(/\\/, "&&", dir) }
		FILENAME == ARGV[2] && !(dir in have) && !(dir in taken) { taken[dir] = 1; print now "\t" dir "\ttaken" }
		FILENAME == ARGV[3] && (dir in taken) && !(dir in built) { built[dir] = 1; print now "\t" dir "\tbridge" }
		' "$journal" "$pacifica_state/games" "$strongholds")
}

# pacifica_settle: ends a journal's last line if it was cut short, writes
# the lines kept in memory to it, and removes the state of version 1.0.0
# once they are there.  Called by the launcher, after pacifica_read_journal,
# before its first line.
pacifica_settle() {
	local lines=(${pacifica_unwritten[@]+"${pacifica_unwritten[@]}"}) line
	pacifica_unwritten=()
	# A journal cut short in the middle of a line would swallow the next.
	[ -z "${pacifica_cut-}" ] || lines=('' ${lines[@]+"${lines[@]}"})
	for line in ${lines[@]+"${lines[@]}"}; do pacifica_append "$line"; done
	if [ -n "${pacifica_old-}" ] && [ "${#pacifica_unwritten[@]}" = 0 ]; then
		command rm -f -- "$pacifica_state/games" "$pacifica_state/strongholds"
	fi
}
