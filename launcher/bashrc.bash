# The player's own ~/.bashrc, read by the game shell's start-up file.
# shellcheck shell=bash

# A Ctrl-C in a slow ~/.bashrc, or an exit in it, would otherwise end the
# reading of this file, or the shell.
trap : INT
# shellcheck disable=SC2317
exit() { :; }
# shellcheck disable=SC2317
logout() { :; }
# The handler of commands not found that the player's ~/.bashrc sets is
# kept under another name, for the game's own to call; not one the system
# set before it.
unset -f command_not_found_handle
# shellcheck source=/dev/null
. ~/.bashrc
unset -f exit logout
# The copy is quoted so that bash reads it only when there is a handler.
declare -F command_not_found_handle >/dev/null && eval 'pacifica_handler=$(declare -f command_not_found_handle)
	eval "pacifica_players_not_found${pacifica_handler#command_not_found_handle}"'
trap - INT
# A shell that ends at the first program that says no is no game.
set +e
# The programs first on PATH again, as the game shell began, wherever the
# player's start-up file put theirs.
[[ $PATH == "$PACIFICA_PATH"?(:*) ]] || PATH=$PACIFICA_PATH${PATH:+${PACIFICA_PATH:+:}$PATH}
# The game's commands are aliases, which the start-up file defines after
# this: bash must expand them.
shopt -s expand_aliases
# The playing directory again, wherever the player's start-up file went.
[ "$PWD" = "$PACIFICA_DIR" ] || CDPATH='' builtin cd -- "$PACIFICA_DIR" || :
