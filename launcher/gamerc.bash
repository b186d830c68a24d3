# The game shell's start-up file, read by bash in place of ~/.bashrc once
# the recorder has started or resumed the game and said the welcome.
# Then the player's own ~/.bashrc, whose settings stay, though nothing in
# it keeps the game's commands, its programs first on PATH and its prompt
# from coming up.  Every name of the game's own begins with pacifica_.
# shellcheck shell=bash

# Standard error, which the recorder put aside while bash started.
if [[ ${PACIFICA_STDERR-} == [0-9]* && ${PACIFICA_STDERR} != *[!0-9]* ]]; then
	exec 2>&"$PACIFICA_STDERR" {PACIFICA_STDERR}>&-
fi
unset PACIFICA_STDERR
pacifica_record=$PACIFICA_RECORDER pacifica_share=$PACIFICA_SHARE pacifica_libexec=$PACIFICA_LIBEXEC
pacifica_dir=$PWD
IFS=' ' read -r pacifica_on pacifica_seen <<<"${PACIFICA_VIEW-}"
unset PACIFICA_RECORDER PACIFICA_SHARE PACIFICA_LIBEXEC PACIFICA_VIEW

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

# The game's commands, read with aliases off, so that they win over any
# function of the player's of the same name and none of the player's
# aliases finds its way into them.  The recorder runs and judges each
# program, and says the game's own lines where standard error went as
# the shell started.
if shopt -q expand_aliases; then pacifica_aliases=1; else pacifica_aliases=''; fi
shopt -u expand_aliases
unalias steps hint help confirm_shellwatch_message prologue resettle duplicate raze celebrate retribute 2>/dev/null
exec {pacifica_say}>&2
export PACIFICA_SAY=$pacifica_say
prologue() { "$pacifica_record" run prologue "$@"; }
resettle() { "$pacifica_record" run resettle "$@"; }
duplicate() { "$pacifica_record" run duplicate "$@"; }
raze() { "$pacifica_record" run raze "$@"; }
celebrate() { "$pacifica_record" run celebrate "$@"; }
retribute() { "$pacifica_record" run retribute "$@"; }
confirm_shellwatch_message() { "$pacifica_record" bridge "$@"; }
steps() { "$pacifica_record" steps; }
# The hints are read when first asked for.
hint() {
	local aliases=''
	! shopt -q expand_aliases || aliases=1
	shopt -u expand_aliases
	# shellcheck source=/dev/null
	. "$pacifica_share/hints.bash"
	[ -z "$aliases" ] || shopt -s expand_aliases
	hint "$@"
}
help() {
	if [ "$#" -gt 0 ]; then builtin help "$@"; return; fi
	printf '%s\n' "The game's own commands:" \
		'  steps                            the steps of the story, and where you are' \
		'  hint                             a hint for where you are; again for more' \
		"  help                             this list; help NAME gives bash's help" \
		'  confirm_shellwatch_message WORD  confirms the alert, as it asks' \
		'  exit                             leaves the game; pacifica comes back to it' \
		'The programs prologue, resettle, duplicate, raze, celebrate and retribute' \
		'each judge the directory they run in.'
}
[ -z "$pacifica_aliases" ] || shopt -s expand_aliases
unset pacifica_aliases

# The prompt names the step the player is on, as the record says it after
# whatever ran since the last prompt, here or in another shell of the game.
# It is set after anything of the player's that runs before a prompt.  A
# run whose answer is not yet right brings a word on the hints, once for
# each situation.
declare -gA pacifica_nudged=()
pacifica_prompt() {
	local view last nudge dir IFS=$' \t\n'
	if [ -n "${pacifica_fresh-}" ]; then
		pacifica_fresh=''
	elif view=$("$pacifica_record" view); then
		read -r pacifica_on last pacifica_runs nudge dir <<<"$view"
		if [ "$last $pacifica_runs" != "$pacifica_seen" ]; then
			[ "$nudge" != 1 ] || [ "${PACIFICA_HINTS-}" != on ] || pacifica_nudge
			pacifica_seen="$last $pacifica_runs"
		fi
	fi
	[[ $- != *e* ]] || { set +e; printf '%s\n' "pacifica: set -e would end the game at the first program that says no; it is off again" >&"$pacifica_say"; }
	PS1="[pacifica: $pacifica_on] \\w\\\$ "
}
pacifica_nudge() {
	local situation IFS=$' \t\n'
	pacifica_situation
	situation=$REPLY
	[ -z "${pacifica_nudged[$situation]-}" ] || return 0
	pacifica_nudged[$situation]=1
	printf '%s\n' "Stuck? Type 'hint'." >&"$pacifica_say"
}
# shellcheck source=/dev/null
pacifica_situation() { . "$pacifica_share/hints.bash" && pacifica_situation; }
pacifica_fresh=1
if [ -z "${PROMPT_COMMAND+set}" ]; then PROMPT_COMMAND=()
elif [[ ${PROMPT_COMMAND@a} != *a* ]]; then PROMPT_COMMAND=("${PROMPT_COMMAND[0]}")
fi
PROMPT_COMMAND+=(pacifica_prompt)
pacifica_prompt

[[ $pacifica_libexec == *:* ]] || PATH=$pacifica_libexec${PATH:+:$PATH}

# Leaving: the record's line and a word on how to come back.  A hangup
# runs the EXIT trap by itself; an interactive shell would ignore a TERM,
# and an exit from its trap would skip the EXIT trap.
trap '"$pacifica_record" leave' EXIT
trap '"$pacifica_record" leave; trap - EXIT; exit 143' TERM

CDPATH='' builtin cd -- "$pacifica_dir" || :
if [ -n "${PACIFICA_POSIXLY_CORRECT+set}" ]; then
	export POSIXLY_CORRECT=$PACIFICA_POSIXLY_CORRECT
	unset PACIFICA_POSIXLY_CORRECT
fi
