# The prompt of the game shell, when the view alone cannot tell it: read by
# the prompt's function, in it, first thing.
# shellcheck shell=bash

# The status is 127 when nothing else brought the prompt here; else a
# command typed with a path was not found when no such file is there.
pacifica_last=$_ pacifica_options=$- pacifica_status=0
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
