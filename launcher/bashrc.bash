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
# None of the player's aliases may turn the game's commands into
# something else, nor the start-up file that defines them after this.
[ "${#BASH_ALIASES[@]}" = 0 ] ||
	unalias prologue resettle duplicate raze celebrate retribute confirm_shellwatch_message steps hint help 2>/dev/null
