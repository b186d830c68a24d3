# The journal: one line per event of a player's games, only ever appended
# to, and the progress of a game as it follows from it.  Read by the
# launcher and by the game shell.
# shellcheck shell=bash

# The lists that journal.awk needs, taken from the story's tables.
pacifica_step_names='' pacifica_completing='' pacifica_programs=''
pacifica_read_tables() {
	local row IFS='|' f
	set -f
	for row in "${pacifica_step_rows[@]}"; do
		# shellcheck disable=SC2206
		f=($row)
		pacifica_step_names+=${pacifica_step_names:+ }${f[0]}
	done
	for row in "${pacifica_answer_rows[@]}"; do
		# shellcheck disable=SC2206
		f=($row)
		[[ " $pacifica_programs " == *" ${f[0]} "* ]] || pacifica_programs+=${pacifica_programs:+ }${f[0]}
		[ "${f[3]-}" != 'done' ] || pacifica_completing+=${pacifica_completing:+ }${f[0]}:${f[1]}
	done
	set +f
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
# their lines.
pacifica_note() {
	local now line
	TZ=UTC0 printf -v now '%(%Y-%m-%dT%H:%M:%SZ)T' -1
	pacifica_encode "$pacifica_game"
	line=$now$'\t'$REPLY$'\t'$1${2:+$'\t'$2}
	pacifica_append "$line"
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

# Lines that the launcher or an earlier shell could not write, handed on.
pacifica_take_unwritten() {
	local line
	while IFS= read -r line; do
		[ -z "$line" ] || pacifica_unwritten+=("$line")
	done <<<"${PACIFICA_UNWRITTEN-}"
}

# pacifica_progress: the progress of the game in pacifica_game, from the
# journal and the lines not written to it: pacifica_ndone, pacifica_current
# (a step, or "finished"), pacifica_runs (judged runs since the last step
# was done), pacifica_played (seconds), pacifica_done (the steps done, by
# commas), pacifica_known (empty when no game is known there) and
# pacifica_last (the last answer of a program, PROGRAM:KEY).
pacifica_progress() {
	local journal=/dev/null
	[ -z "$pacifica_journal" ] || [ ! -f "$pacifica_journal" ] || [ ! -r "$pacifica_journal" ] ||
		journal=$pacifica_journal
	pacifica_encode "$pacifica_game"
	IFS='|' read -r pacifica_ndone pacifica_current pacifica_runs pacifica_played pacifica_done pacifica_known pacifica_last \
		< <(printf '%s\n' ${pacifica_unwritten[@]+"${pacifica_unwritten[@]}"} |
			command awk -v steps="$pacifica_step_names" -v completing="$pacifica_completing" \
				-v programs="$pacifica_programs" -v game="$REPLY" -f "$pacifica_share/journal.awk" "$journal" -)
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
		index($0, "\0") || $0 !~ /^\// || $0 ~ /[\001-\037\177\\]/ { next }
		FILENAME == ARGV[2] && !($0 in have) && !($0 in taken) { taken[$0] = 1; print now "\t" $0 "\ttaken" }
		FILENAME == ARGV[3] && ($0 in taken) && !($0 in built) { built[$0] = 1; print now "\t" $0 "\tbridge" }
		' "$journal" "$pacifica_state/games" "$strongholds")
}

# pacifica_settle: ends a journal's last line if it was cut short, writes
# the lines kept in memory to it, and removes the state of version 1.0.0
# once they are there.  Called by the launcher before its first line.
pacifica_settle() {
	local lines=(${pacifica_unwritten[@]+"${pacifica_unwritten[@]}"}) line
	pacifica_unwritten=()
	# A journal cut short in the middle of a line would swallow the next.
	if [ -f "$pacifica_journal" ] && [ -s "$pacifica_journal" ] && [ -n "$(command tail -c 1 -- "$pacifica_journal")" ]; then
		lines=('' ${lines[@]+"${lines[@]}"})
	fi
	for line in ${lines[@]+"${lines[@]}"}; do pacifica_append "$line"; done
	if [ -n "${pacifica_old-}" ] && [ "${#pacifica_unwritten[@]}" = 0 ]; then
		command rm -f -- "$pacifica_state/games" "$pacifica_state/strongholds"
	fi
}
