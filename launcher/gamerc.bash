# The game shell's start-up file, read by bash in place of ~/.bashrc once
# the recorder has started or resumed the game and said the welcome.
# Then the player's own ~/.bashrc, whose settings stay, though nothing in
# it keeps the game's commands, its programs first on PATH and its prompt
# from coming up.  The game's commands are the recorder's.
# What bash costs to start grows with every statement of this file, and
# with every comment: the build installs it without them.
# shellcheck shell=bash
# shellcheck disable=SC1091

# Standard error, which the recorder put aside while bash started (none
# put aside: it was closed, and stays so); the game's own lines go there,
# whatever a command's standard error is.
exec 2>&"${PACIFICA_SAY--}"
# Only a start-up file that the player owns, in a home of theirs: root
# started with a student's HOME reads nothing of the student's.
# shellcheck source=/dev/null
[[ -f ~/.bashrc && -O ~/.bashrc && -O ~ ]] && . "$PACIFICA_SHARE/bashrc.bash"

# The game's commands, as aliases, which bash defines in one statement and
# expands only where a command begins; the words typed after one are its
# arguments.  By the builtin itself: a function named alias, of the
# player's ~/.bashrc or environment, would leave the game without them.
builtin alias prologue='"$PACIFICA_RECORDER" run prologue' resettle='"$PACIFICA_RECORDER" run resettle' \
	duplicate='"$PACIFICA_RECORDER" run duplicate' raze='"$PACIFICA_RECORDER" run raze' \
	celebrate='"$PACIFICA_RECORDER" run celebrate' retribute='"$PACIFICA_RECORDER" run retribute' \
	confirm_shellwatch_message='"$PACIFICA_RECORDER" bridge' steps='"$PACIFICA_RECORDER" steps' \
	hint='"$PACIFICA_RECORDER" hint' help='"$PACIFICA_RECORDER" help'

# A command not found that the player meant as one of the game's (Raze,
# retribut) is named in one line; any other is the player's own handler's
# to answer, which bashrc.bash kept under another name, or said as bash
# says it.
command_not_found_handle() {
	"$PACIFICA_RECORDER" note typed "$1" ${pacifica_handler:+theirs} || return
	pacifica_players_not_found "$@"
}

# The prompt names the step the player is on, as the record says it after
# whatever ran since the last prompt, here or in another shell of the
# game, and comes back after anything of the player's that runs before a
# prompt.  While set -e is off, the playing directory is there with
# nothing to say of it and no command failed as not found (one of the
# game's typed with a path, ./raze, which bash looked for as a file),
# nothing is looked up unless the view of the game is newer than this
# shell's last look at it, and then only the view is read, most often
# after a run; prompt.bash does the rest.
pacifica_prompt() {
	# prompt.bash also when the view was not this game's.
	# shellcheck disable=SC2015
	[[ $?$- != @(127*|*e*) && -d $pacifica_here ]] && { [[ $PACIFICA_VIEW -ot $PACIFICA_SEEN ]] || pacifica_read_view; } ||
		. "$PACIFICA_SHARE/prompt.bash"
	PS1=$pacifica_ps1
}
# Defined by view.bash the first time it is needed: bash parses a file at
# every reading, a function once, and every statement here at every start.
pacifica_read_view() { . "$PACIFICA_SHARE/view.bash"; }
# In one statement, as each costs bash as much to run as many words; the
# recorder has put the programs first on PATH, and named the view and the
# last look at it as bash reads them.
pacifica_here=$PACIFICA_DIR pacifica_ps1="[pacifica: $PACIFICA_ON] \\w\\\$ " PROMPT_COMMAND+=(pacifica_prompt)

# Leaving is the recorder's, which waits for this shell to end.  An
# interactive shell would ignore a TERM; and bash ends an exit in a trap
# with status 0 unless there is an EXIT trap too.
trap 'exit 143' TERM
trap : EXIT

${PACIFICA_POSIXLY_CORRECT+export POSIXLY_CORRECT="$PACIFICA_POSIXLY_CORRECT"}
