# Hints: which situation the player is in, told from the step they are on,
# the last answer of that step's program and what stands in the playing
# directory, and the hint for it, more specific on each call.
# shellcheck shell=bash

# pacifica_first_line FILE: the first line of a regular file, in REPLY.
pacifica_first_line() {
	REPLY=
	[ -f "$1" ] && [ -r "$1" ] || return 1
	IFS= read -r REPLY <"$1" || :
}

# pacifica_situation: the situation of the player, in REPLY: a row of the
# story's hint table.
pacifica_situation() {
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
		elif pacifica_first_line "$g/Pacifica/Jean" && [ "$REPLY" = "${pacifica_jean%$'\n'}" ]; then REPLY=ready
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
		if [ "${pacifica_last-}" = raze:victory ]; then REPLY=raze-premature
		elif [ ! -e "$g/$pacifica_alert" ]; then REPLY=alert-gone
		elif [ -n "${pacifica_refused-}" ]; then REPLY=bridge-word
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

# A hint for the situation the player is in: first the idea, then the
# command lines, then that there is no more.
hint() {
	if [ "$pacifica_hints" != on ]; then
		echo "Hints are off in this game."
		return 0
	fi
	pacifica_situation
	local situation=$REPLY level line quoted
	pacifica_find_row pacifica_hint_rows "$situation"
	level=$((${pacifica_hinted[$situation]-0} + 1))
	pacifica_hinted["$situation"]=$level
	printf -v quoted '%q' "$pacifica_game"
	if [ "$level" = 1 ]; then
		line=${pacifica_row[1]//\$program/$pacifica_ready}
		pacifica_wrap 79 "${line//\$game/$pacifica_game}"
		printf '%s\n' "$REPLY"
	elif [ "$level" = 2 ]; then
		for line in "${pacifica_row[@]:2}"; do
			line=${line//\$program/$pacifica_ready}
			printf '$ %s\n' "${line//\$game/$quoted}"
		done
	else
		pacifica_wrap 79 "$pacifica_hint_more"
		printf '%s\n' "$REPLY"
	fi
}
