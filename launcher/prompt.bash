# The prompt of the game shell, when something may have changed since the
# last: read by the prompt's function, in it, first thing.
# shellcheck shell=bash

# Most often a run of this game changed its view and nothing else is
# amiss: its step is read from the view, and the rest of this file,
# which bash would parse first, is left unread.  Nothing the record's
# view is given is changed (PACIFICA_ON, exported, costs bash a new
# environment at the next command).  The line is read whole and matched
# whole, the step cut from it by its blanks: the player's IFS, which
# would split it at a letter too (duplicat), and which set for the read
# would cost the environment as well, does not come into it.  The look's
# time is taken before the view is read, so that an event after it
# leaves a view newer than the look; a look that failed then leaves no
# playing directory, which is looked at again below.
pacifica_last=$_ pacifica_options=$-
[[ $- != *e* && $PACIFICA_ON != *,* && ! $PACIFICA_VIEW -ot $PACIFICA_SEEN && ($pacifica_last != */* || -e $pacifica_last) ]] &&
	: >|"$PACIFICA_SEEN" && pacifica_here= &&
	read -r pacifica_on <"$PACIFICA_VIEW" 2>/dev/null &&
	[[ $pacifica_on == "${PACIFICA_GAME-} "+([a-z])" $PACIFICA_DIR" && -d $PACIFICA_DIR ]] &&
	pacifica_on=${pacifica_on#* } && pacifica_here=$PACIFICA_DIR pacifica_ps1="[pacifica: ${pacifica_on%% *}] \\w\\\$ " && return
# The status is 127 when nothing else brought the prompt here; else a
# command typed with a path was not found when no such file is there.
pacifica_status=0
[[ $- != *e* && -d $pacifica_here && $PACIFICA_VIEW -ot $PACIFICA_SEEN ||
	$pacifica_last == */* && ! -e $pacifica_last ]] && pacifica_status=127
: >|"$PACIFICA_SEEN"
# The view, as the game's last event left it, when it is of this game in
# its playing directory; the record's answer otherwise, and the lines it
# has to say: set -e turned off, a playing directory gone or set aside, a
# game's command typed with a path.  While the view is another game's, or
# the directory has a word said of it, every prompt asks the record.
pacifica_here=
IFS=" " read -r pacifica_number pacifica_on pacifica_dir <"$PACIFICA_VIEW" 2>/dev/null &&
	[[ $pacifica_number == "${PACIFICA_GAME-}" && $pacifica_dir == "$PACIFICA_DIR" ]] &&
	pacifica_here=$PACIFICA_DIR
if [[ $pacifica_options != *e* && $pacifica_status != 127 && -d $pacifica_here ]]; then
	PACIFICA_ON=$pacifica_on
else
	PACIFICA_ON=$("$PACIFICA_RECORDER" view "$pacifica_options" "$pacifica_status" "${pacifica_last:0:256}")
fi
set +e
[[ $PACIFICA_ON != *,* ]] || pacifica_here=
pacifica_ps1="[pacifica: $PACIFICA_ON] \\w\\\$ "
