# Hints: which situation the player is in, told from the step they are on,
# the last answer of that step's program and what stands in the playing
# directory, and the hint for it, more specific on each call.  The game
# shell reads this when first asked for a hint; the texts are the story
# table's.
# shellcheck shell=bash

declare -gA pacifica_hinted=()
pacifica_hint_rows=()
pacifica_read_table() {
	local line name IFS=$' \t\n'
	while IFS= read -r line; do
		case $line in
		hint\|*) pacifica_hint_rows+=("${line#hint|}") ;;
		fact\|*) name=${line#fact|} && printf -v "pacifica_${name%%|*}" '%s' "${name#*|}" ;;
		esac
	done <"$pacifica_share/story.table"
}
pacifica_read_table

# The state of the game as the record has it: the step the player is on,
# the last answer, the directory of the game.
pacifica_state() {
	local view dir IFS=$' \t\n'
	view=$("$pacifica_record" view) || return 1
	read -r pacifica_current pacifica_last _ _ dir <<<"$view"
	printf -v pacifica_game '%b' "$dir"
}

pacifica_here() { [ . -ef "$pacifica_game" ]; }

# pacifica_first_line FILE: the first line of a regular file, in REPLY.
pacifica_first_line() {
	REPLY=
	[ -f "$1" ] && [ -r "$1" ] || return 1
	IFS= read -r REPLY <"$1" || :
}

# pacifica_situation: the situation of the player, in REPLY: a row of the
# story's hint table.
pacifica_situation() {
	pacifica_state || { REPLY=finished; return; }
	local g=$pacifica_game key=
	if ! pacifica_here; then REPLY=outside; return; fi
	[ "${pacifica_last%%:*}" != "$pacifica_current" ] || key=${pacifica_last#*:}
	pacifica_ready=$pacifica_current
	case $pacifica_current in
	finished) REPLY=finished ;;
	prologue)
		if [ "$key" != unwritable ]; then REPLY=step-prologue
		elif [ -d "$g/Jean" ]; then REPLY=prologue-jean-dir
		else REPLY=prologue-unwritable
		fi
		;;
	resettle)
		if [ -e "$g/Jean" ] || [ -L "$g/Jean" ]; then
			if [ ! -d "$g/Pacifica" ]; then REPLY=resettle-nopacifica
			elif [ -e "$g/Pacifica/Jean" ]; then REPLY=resettle-copied
			else REPLY=resettle-notmoved
			fi
		elif [ ! -e "$g/Pacifica/Jean" ]; then REPLY=resettle-lost
		elif pacifica_first_line "$g/Pacifica/Jean" && [ "$REPLY" = "$pacifica_jean" ]; then REPLY=ready
		else REPLY=resettle-edited
		fi
		;;
	duplicate)
		local one=$g/Pacifica/Jean two=$g/Pacifica_Copy/Jean
		if [ ! -e "$one" ] && [ ! -L "$one" ] && [ ! -e "$two" ] && [ ! -L "$two" ]; then REPLY=duplicate-nojean
		elif [ ! -e "$two" ] && [ ! -L "$two" ]; then REPLY=duplicate-nocopy
		elif [ ! -e "$one" ] && [ ! -L "$one" ]; then REPLY=duplicate-noorigin
		elif [ -L "$two" ]; then REPLY=duplicate-symlink
		elif [ -L "$one" ]; then REPLY=duplicate-symlink-origin
		elif [ "$key" = unwritable ]; then REPLY=duplicate-unwritable
		elif ! pacifica_first_line "$one" || { one=$REPLY; ! pacifica_first_line "$two"; } || [ "$one" != "$REPLY" ]; then
			REPLY=duplicate-imperfect
		else REPLY=ready
		fi
		;;
	bridge)
		if [ "$pacifica_last" = raze:victory ]; then REPLY=raze-premature
		elif [ ! -e "$g/$pacifica_alert" ]; then REPLY=alert-gone
		elif [ "$pacifica_last" = bridge:word ]; then REPLY=bridge-word
		else REPLY=step-bridge
		fi
		;;
	raze)
		if [ -d "$g/$pacifica_stronghold/" ]; then REPLY=step-raze; else REPLY=ready; fi
		;;
	celebrate)
		if [ -e "$g/jail" ] && [ ! -d "$g/jail" ]; then REPLY=celebrate-jail-file
		elif [ -e "$g/.grob" ]; then
			if [ ! -e "$g/jail" ]; then REPLY=celebrate-nojail
			elif [ -e "$g/jail/.grob" ]; then REPLY=celebrate-copied
			elif [ "$key" = replanted ]; then REPLY=celebrate-replanted
			else REPLY=celebrate-loose
			fi
		elif [ ! -e "$g/jail" ]; then REPLY=step-celebrate
		elif [ ! -e "$g/jail/.grob" ]; then REPLY=celebrate-nogrob
		elif [ "$key" = wrong ] || [ -d "$g/jail/.grob" ]; then REPLY=celebrate-wrong
		elif [ "$key" = failed ]; then REPLY=celebrate-failed
		else REPLY=ready
		fi
		;;
	retribute)
		local center=$g/indefinite_detention_center
		if [ -d "$g/jail" ] && [ -r "$g/jail" ]; then
			if [ -e "$center" ]; then REPLY=retribute-copied; else REPLY=retribute-jail; fi
		elif [ ! -e "$center/.grob" ]; then
			if [ -e "$g/.grob" ]; then REPLY=retribute-loose; else REPLY=retribute-nogrob; fi
		elif [ "$key" = wrong ] || [ "$key" = readerror ]; then REPLY=retribute-wrong
		else REPLY=ready
		fi
		;;
	*) REPLY=ready ;;
	esac
}

# pacifica_wrap WIDTH TEXT: TEXT with every line longer than WIDTH broken
# at blanks, never inside a word; in REPLY.
pacifica_wrap() {
	local width=$1 rest=$2 line head
	REPLY=
	while [ -n "$rest" ]; do
		line=${rest%%$'\n'*}
		if [ "$line" = "$rest" ]; then rest=; else rest=${rest#*$'\n'}; fi
		while [ "${#line}" -gt "$width" ]; do
			head=${line:0:width+1}
			if [[ $head == *' '* ]]; then head=${head% *}
			elif [[ $line == *' '* ]]; then head=${line%% *}
			else break
			fi
			REPLY+=$head$'\n'
			line=${line:${#head}}
			line=${line# }
		done
		REPLY+=$line${rest:+$'\n'}
	done
}

# A hint for the situation the player is in: first the idea, then the
# command lines, then that there is no more.  The count starts again after
# each run the record holds.
hint() {
	local IFS=$' \t\n'
	if [ "${PACIFICA_HINTS-}" != on ]; then
		echo "Hints are off in this game."
		return 0
	fi
	pacifica_situation
	local situation=$REPLY level line quoted row fields
	for row in "${pacifica_hint_rows[@]}"; do
		[[ $row != "$situation|"* ]] || break
	done
	IFS='|'
	# shellcheck disable=SC2206
	fields=($row)
	IFS=$' \t\n'
	[ "${pacifica_hinted_after-}" = "$pacifica_last $pacifica_runs" ] || pacifica_hinted=()
	pacifica_hinted_after="$pacifica_last $pacifica_runs"
	level=$((${pacifica_hinted[$situation]-0} + 1))
	pacifica_hinted["$situation"]=$level
	"$pacifica_record" note hint
	printf -v quoted '%q' "$pacifica_game"
	if [ "$level" = 1 ]; then
		line=${fields[1]//\$program/$pacifica_ready}
		pacifica_wrap 79 "${line//\$game/$pacifica_game}"
		printf '%s\n' "$REPLY"
	elif [ "$level" = 2 ]; then
		for line in "${fields[@]:2}"; do
			line=${line//\$program/$pacifica_ready}
			printf '$ %s\n' "${line//\$game/$quoted}"
		done
	else
		pacifica_wrap 79 "There is nothing more to tell about this; 'steps' shows where you are, and 'man pacifica' tells the rest."
		printf '%s\n' "$REPLY"
	fi
}
