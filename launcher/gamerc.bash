# The game shell's start-up file, read by bash in place of ~/.bashrc once
# the recorder has started or resumed the game and said the welcome.
# Then the player's own ~/.bashrc, whose settings stay, though nothing in
# it keeps the game's commands, its programs first on PATH and its prompt
# from coming up.  The game's commands are the recorder's; each line here
# costs bash more than a run of the recorder, so there are few.
# shellcheck shell=bash

# Standard error, which the recorder put aside while bash started; the
# game's own lines go there, whatever a command's standard error is.
[ -z "${PACIFICA_SAY-}" ] || exec 2>&"$PACIFICA_SAY"

# A Ctrl-C in a slow ~/.bashrc, or an exit in it, would otherwise end the
# reading of this file, or the shell.
trap : INT
# shellcheck disable=SC2317
exit() { :; }
# shellcheck disable=SC2317
logout() { :; }
# Only a start-up file that the player owns, in a home of theirs: root
# started with a student's HOME reads nothing of the student's.
# shellcheck source=/dev/null
! [ -f ~/.bashrc ] || ! [ -O ~/.bashrc ] || ! [ -O ~ ] || . ~/.bashrc
unset -f exit logout
trap - INT
# A shell that ends at the first program that says no is no game.
set +e

# None of the player's aliases may turn these into something else.
[ "${#BASH_ALIASES[@]}" = 0 ] ||
	unalias prologue resettle duplicate raze celebrate retribute confirm_shellwatch_message steps hint help 2>/dev/null
prologue() { "$PACIFICA_RECORDER" run prologue "$@"; }
resettle() { "$PACIFICA_RECORDER" run resettle "$@"; }
duplicate() { "$PACIFICA_RECORDER" run duplicate "$@"; }
raze() { "$PACIFICA_RECORDER" run raze "$@"; }
celebrate() { "$PACIFICA_RECORDER" run celebrate "$@"; }
retribute() { "$PACIFICA_RECORDER" run retribute "$@"; }
confirm_shellwatch_message() { "$PACIFICA_RECORDER" bridge "$@"; }
steps() { "$PACIFICA_RECORDER" steps; }
hint() { "$PACIFICA_RECORDER" hint; }
help() { "$PACIFICA_RECORDER" help "$@"; }

# A command not found that the player meant as one of the game's (Raze,
# retribut) is named in one line; any other is the player's own handler's
# to answer, kept under another name, or said as bash says it.  The copy
# is quoted so that bash reads it only when there is a handler to keep.
declare -F command_not_found_handle >/dev/null && eval 'pacifica_handler=$(declare -f command_not_found_handle)
	eval "pacifica_players_not_found${pacifica_handler#command_not_found_handle}"'
command_not_found_handle() {
	"$PACIFICA_RECORDER" note typed "$1" ${pacifica_handler:+theirs} || return
	pacifica_players_not_found "$@"
}

# The prompt names the step the player is on, as the record says it after
# whatever ran since the last prompt, here or in another shell of the
# game; the recorder said it for the first.  It is set after anything of
# the player's that runs before a prompt.
# set -e, which would end the game at the first program that says no, is
# turned off again, and the recorder says so; and a game's command typed
# with a path (./raze), which bash looked for as a file, is named, told by
# the status and the last word of the line.
pacifica_prompt() {
	local status=$? last=$_ options=$-
	[ -n "${pacifica_fresh-}" ] && pacifica_fresh= ||
		PACIFICA_ON=$("$PACIFICA_RECORDER" view "$options" "$status" "${last:0:256}")
	set +e
	PS1="[pacifica: $PACIFICA_ON] \\w\\\$ "
}
pacifica_fresh=1
PROMPT_COMMAND+=(pacifica_prompt)
# The programs first on PATH, when their directory's name has no colon.
PATH=$PACIFICA_PATH${PATH:+${PACIFICA_PATH:+:}$PATH}

# Leaving: the record's line and a word on how to come back.  A hangup
# runs the EXIT trap by itself; an interactive shell would ignore a TERM,
# and an exit from its trap would skip the EXIT trap.
trap '"$PACIFICA_RECORDER" leave' EXIT
trap '"$PACIFICA_RECORDER" leave; trap - EXIT; exit 143' TERM

[ "$PWD" = "$PACIFICA_DIR" ] || CDPATH='' builtin cd -- "$PACIFICA_DIR" || :
${PACIFICA_POSIXLY_CORRECT+export POSIXLY_CORRECT="$PACIFICA_POSIXLY_CORRECT"}
