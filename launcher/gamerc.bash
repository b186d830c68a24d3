# The game shell's start-up file, read by bash in place of ~/.bashrc.  The
# player's own ~/.bashrc comes first, and its settings stay, but nothing
# in it keeps the game's commands, its programs first on PATH and its
# prompt from coming up.  The launcher hands over the game in PACIFICA_*.
# shellcheck shell=bash

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

# The game's functions are read with aliases off, so that none of the
# player's aliases finds its way into them, and they win over any function
# of the same name.
if shopt -q expand_aliases; then pacifica_aliases=1; else pacifica_aliases=; fi
shopt -u expand_aliases
pacifica_game=$PACIFICA_GAME pacifica_share=$PACIFICA_SHARE pacifica_libexec=$PACIFICA_LIBEXEC
pacifica_journal=$PACIFICA_JOURNAL pacifica_hints=$PACIFICA_HINTS pacifica_back=$PACIFICA_BACK
# shellcheck source=/dev/null
. "$pacifica_share/story.bash"
# shellcheck source=/dev/null
. "$pacifica_share/journal.bash"
# shellcheck source=/dev/null
. "$pacifica_share/game.bash"
pacifica_find_journal >/dev/null 2>&1 || :
pacifica_journal=$PACIFICA_JOURNAL
pacifica_take_unwritten
pacifica_take_progress
unset PACIFICA_SHARE PACIFICA_LIBEXEC PACIFICA_JOURNAL PACIFICA_HINTS PACIFICA_BACK PACIFICA_UNWRITTEN PACIFICA_PROGRESS
[ -z "$pacifica_aliases" ] || shopt -s expand_aliases
unalias steps hint help confirm_shellwatch_message prologue resettle duplicate raze celebrate retribute 2>/dev/null
pacifica_refused=

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
		echo "Your finished game is kept in $REPLY; '${pacifica_back/pacifica/pacifica --new}' starts a new one."
	else
		echo "Your game is kept in $REPLY; '$pacifica_back' goes on from there."
	fi
}
# A hangup runs the EXIT trap by itself; an interactive shell would ignore
# a TERM, and an exit from its trap would skip the EXIT trap.
trap pacifica_leave EXIT
trap 'pacifica_leave; trap - EXIT; exit 143' TERM

builtin cd -- "$pacifica_game" || :
if [ -n "${PACIFICA_POSIXLY_CORRECT+set}" ]; then
	export POSIXLY_CORRECT=$PACIFICA_POSIXLY_CORRECT
	unset PACIFICA_POSIXLY_CORRECT
fi
