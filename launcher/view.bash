# The prompt's step read from the view, when the view is newer than this
# shell's last look at it and nothing else is amiss, most often after a
# run: read the first time it is needed, this file defines the reading in
# place of the one that read it, and reads.
# shellcheck shell=bash

# Nothing the record's view is given is changed (PACIFICA_ON, exported,
# costs bash a new environment at the next command).  The line is read
# whole and matched whole, the step cut from it by its blanks: the
# player's IFS, which would split it at a letter too (duplicat), and which
# set for the read would cost the environment as well, does not come into
# it.  The look's time is taken before the view is read, so that an event
# after it leaves a view newer than the look; a view that is not of this
# game in its playing directory leaves none, and prompt.bash looks again.
pacifica_read_view() {
	: >|"$PACIFICA_SEEN"
	pacifica_here=
	read -r pacifica_on <"$PACIFICA_VIEW" 2>/dev/null && [[ $pacifica_on == "${PACIFICA_GAME-} "+([a-z])" $PACIFICA_DIR" ]] &&
		pacifica_on=${pacifica_on#* } && pacifica_here=$PACIFICA_DIR pacifica_ps1="[pacifica: ${pacifica_on%% *}] \\w\\\$ "
}
pacifica_read_view
