# The player's own ~/.bashrc, read by the game shell's start-up file.
# shellcheck shell=bash

# A Ctrl-C in a slow ~/.bashrc, or an exit in it, would otherwise end the
# reading of this file, or the shell.
trap : INT
# shellcheck disable=SC2317
exit() { :; }
# shellcheck disable=SC2317
logout() { :; }
# shellcheck source=/dev/null
. ~/.bashrc
unset -f exit logout
trap - INT
# A shell that ends at the first program that says no is no game.
set +e
# The game's commands are aliases, which the start-up file defines after
# this: bash must expand them.
shopt -s expand_aliases
# The playing directory again, wherever the player's start-up file went.
[ "$PWD" = "$PACIFICA_DIR" ] || CDPATH='' builtin cd -- "$PACIFICA_DIR" || :
