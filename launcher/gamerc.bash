# The game shell's start-up file, read by bash in place of ~/.bashrc when
# the pacifica command starts a game.  It does the launcher's work first:
# refuses in one line, or starts or resumes the game.  Then the player's
# own ~/.bashrc, whose settings stay, though nothing in it keeps the
# game's commands, its programs first on PATH and its prompt from coming
# up; then the welcome.  The arguments of pacifica are this file's.
# shellcheck shell=bash

# Standard error, which the pacifica command put aside while bash started.
if [[ ${PACIFICA_STDERR-} == [0-9]* && ${PACIFICA_STDERR} != *[!0-9]* ]]; then
	exec 2>&"$PACIFICA_STDERR" {PACIFICA_STDERR}>&-
fi
unset PACIFICA_STDERR

pacifica_share=$PACIFICA_SHARE
# shellcheck source=/dev/null
. "$pacifica_share/story.bash" && . "$pacifica_share/journal.bash" && . "$pacifica_share/play.bash" || exit 1
set -u
cmd_play "$@"
set +u
set --
unset PACIFICA_SHARE PACIFICA_LIBEXEC PACIFICA_CONF

# A Ctrl-C in a slow ~/.bashrc, or an exit in it, would otherwise end the
# reading of this file, or the shell.
trap : INT
# shellcheck disable=SC2317
exit() { :; }
# shellcheck disable=SC2317
logout() { :; }
# shellcheck source=/dev/null
[ ! -f ~/.bashrc ] || . ~/.bashrc
unset -f exit logout
trap - INT
# A shell that ends at the first program that says no is no game.
set +e

# The game's functions are read with aliases off, so that they win over
# any function of the player's of the same name and none of the player's
# aliases finds its way into them.
if shopt -q expand_aliases; then pacifica_aliases=1; else pacifica_aliases=''; fi
shopt -u expand_aliases
# shellcheck source=/dev/null
. "$pacifica_share/game.bash"
[ -z "$pacifica_aliases" ] || shopt -s expand_aliases
unset pacifica_aliases
welcome "$pacifica_shown_game" "$pacifica_back" "$pacifica_fresh"
unset -f "${pacifica_launcher[@]}"
unset pacifica_launcher pacifica_fresh pacifica_shown_game
unalias steps hint help confirm_shellwatch_message prologue resettle duplicate raze celebrate retribute 2>/dev/null
pacifica_refused=''

# The game's lines go where standard error went as the shell started.
exec {pacifica_say_fd}>&2

# The prompt names the step the player is on; it is set after anything
# of the player's that runs before a prompt.
pacifica_prompt() { PS1="[pacifica: $pacifica_current] \\w\\\$ "; }
if [ -z "${PROMPT_COMMAND+set}" ]; then PROMPT_COMMAND=()
elif [[ ${PROMPT_COMMAND@a} != *a* ]]; then PROMPT_COMMAND=("${PROMPT_COMMAND[0]}")
fi
PROMPT_COMMAND+=(pacifica_prompt)
pacifica_prompt

[[ $pacifica_libexec == *:* ]] || PATH=$pacifica_libexec${PATH:+:$PATH}

# Leaving: the journal's line, a word on how to come back, and nothing
# left behind.
pacifica_leave() {
	pacifica_note left
	pacifica_uncapture
	pacifica_shown "$pacifica_game"
	if [ "$pacifica_current" = finished ]; then
		pacifica_show "Your finished game is kept in $REPLY; '${pacifica_back/pacifica/pacifica --new}' starts a new one."$'\n'
	else
		pacifica_show "Your game is kept in $REPLY; '$pacifica_back' goes on from there."$'\n'
	fi
}
# A hangup runs the EXIT trap by itself; an interactive shell would ignore
# a TERM, and an exit from its trap would skip the EXIT trap.
trap pacifica_leave EXIT
trap 'pacifica_leave; trap - EXIT; exit 143' TERM

CDPATH='' builtin cd -- "$pacifica_game" || :
if [ -n "${PACIFICA_POSIXLY_CORRECT+set}" ]; then
	export POSIXLY_CORRECT=$PACIFICA_POSIXLY_CORRECT
	unset PACIFICA_POSIXLY_CORRECT
fi
