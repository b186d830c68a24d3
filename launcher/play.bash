# Starting a game: the launcher's work of finding the playing directory,
# refusing it or starting or resuming its game in the journal, and the
# welcome.  The game shell's start-up file reads this before the player's
# ~/.bashrc, and forgets its functions once the game has started; the
# launcher script reads it too.  PACIFICA_SHARE, PACIFICA_LIBEXEC and
# PACIFICA_CONF, which the pacifica command sets, say where the game's
# files, its six programs (out of the PATH) and the machine's settings lie.
# shellcheck shell=bash

pacifica_share=${PACIFICA_SHARE:?run by the pacifica command}
pacifica_libexec=$PACIFICA_LIBEXEC
pacifica_conf=$PACIFICA_CONF

# The launcher's own functions, which the game shell forgets.
pacifica_launcher=(warn die usage usage_error yesno read_conf too_long make_dir owned_by_root
	set_aside welcome cmd_play)

warn() { printf 'pacifica: %s\n' "$*" >&2; }
die() { warn "$@"; exit 1; }

usage() {
	echo "usage: pacifica [--no-hints] [DIR]"
	echo "       pacifica --new [--yes] [--no-hints] [DIR]"
	echo "       pacifica --report [--csv] [PLACE...]"
	echo "       pacifica --walkthrough | --help | --version"
}

usage_error() { warn "$@"; usage >&2; exit 2; }

# yesno QUESTION: asks on a terminal; anywhere else the answer is no.
yesno() {
	local answer
	[ -t 0 ] && read -r -p "$1 [y/N] " answer || return 1
	[[ $answer == [yY]* ]]
}

# The machine's settings, by a teacher: "hints = off" turns hints off in
# every game.  Lines that are not a setting are ignored.
read_conf() {
	local line
	[ -f "$pacifica_conf" ] && [ -r "$pacifica_conf" ] || return 0
	while IFS= read -r line || [ -n "$line" ]; do
		line=${line//[[:space:]]/}
		[ "$line" != hints=off ] || hints=off
	done <"$pacifica_conf"
}

# A name is measured in bytes, as the system limits it.
too_long() { local LC_ALL=C; [ "${#1}" -ge 4096 ]; }

# make_dir PATH SHOWN: makes PATH and the directories above it that are
# missing, or, failing, leaves none of them behind.
make_dir() {
	local path=$1 made=() err i
	while [ ! -e "$path" ] && [ ! -L "$path" ]; do
		made+=("$path")
		[[ $path == */* ]] || break
		path=${path%/*}
		[ -n "$path" ] || break
	done
	err=$(command mkdir -p -- "$1" 2>&1) && return 0
	for ((i = 0; i < ${#made[@]}; i++)); do command rmdir -- "${made[i]}" 2>/dev/null; done
	die "cannot make $2: ${err##*: }"
}

# Root plays only where nobody else could lay links for the programs to
# write through: in a directory of root's own, below one of root's own.
owned_by_root() {
	local path=$1
	while [ ! -e "$path" ] && [[ $path == */* ]]; do path=${path%/*}; path=${path:-/}; done
	[ -O "$path" ]
}

# set_aside SHOWN: renames the game's directory to the first free
# name.N and makes a new one in its place.
set_aside() {
	local n=1 aside
	while [ -e "$pacifica_game.$n" ] || [ -L "$pacifica_game.$n" ]; do n=$((n + 1)); done
	aside=$pacifica_game.$n
	builtin cd / || exit 1
	if ! command mv -n -T -- "$pacifica_game" "$aside" || [ -e "$pacifica_game" ]; then
		die "cannot set the game in $1 aside"
	fi
	pacifica_encode "$aside"
	pacifica_note aside "$REPLY"
	pacifica_shown "$aside"
	echo "The game in $1 is set aside in $REPLY."
	command mkdir -- "$pacifica_game" || die "cannot make $1 again"
	builtin cd -P -- "$pacifica_game" || die "cannot enter $1"
}

# welcome GAME BACK NEW: what the player reads before the first prompt;
# the lines that name a directory are fitted to a terminal, as the
# story's lines are.
welcome() {
	if [ -n "$3" ]; then
		echo "Welcome to Pacifica, a story played with the commands of your shell."
		pacifica_show "Your playing directory is $1."$'\n'
	elif [ "$pacifica_current" = finished ]; then
		pacifica_show "Welcome back to Pacifica.  Your game in $1 is finished."$'\n'
	else
		pacifica_show "Welcome back to Pacifica.  Your game is in $1, as you left it."$'\n'
		pacifica_find_row pacifica_step_rows "$pacifica_current"
		echo "$pacifica_ndone of ${#pacifica_step_rows[@]} steps done."
		echo "${pacifica_row[3]}"
	fi
	echo
	steps
	echo "'steps' shows them again, 'hint' helps when you are stuck, 'help' lists the"
	pacifica_show "game's commands and 'exit' leaves; '$2' comes back later."$'\n'
	if [ -n "$3" ]; then
		echo "Type 'prologue' to begin."
	else
		pacifica_show "To start over: ${2/pacifica/pacifica --new}"$'\n'
	fi
}

cmd_play() {
	local new='' yes='' hints=on args=() dir shown entries=() fresh='' program
	while [ $# -gt 0 ]; do
		case $1 in
		--new) new=1 ;;
		--yes) yes=1 ;;
		--no-hints) hints=off ;;
		--) shift; args+=("$@"); break ;;
		-?*) usage_error "unknown option: $1" ;;
		*) args+=("$1") ;;
		esac
		shift
	done
	[ "${#args[@]}" -le 1 ] || usage_error "unexpected argument: ${args[1]}"
	[ -z "$yes" ] || [ -n "$new" ] || usage_error "--yes goes with --new"
	if [ -n "${PACIFICA_GAME-}" ]; then
		pacifica_shown "$PACIFICA_GAME"
		die "you are already in the game, in $REPLY; 'exit' leaves it"
	fi
	read_conf
	for program in prologue resettle duplicate raze celebrate retribute; do
		[ -x "$pacifica_libexec/$program" ] || die "the game's program $program is missing from $pacifica_libexec"
	done

	if [ "${#args[@]}" = 1 ]; then
		dir=${args[0]}
	else
		case ${HOME-} in
		/*) dir=$HOME/pacifica ;;
		'') die "HOME is not set; name the playing directory: pacifica DIR" ;;
		*) die "HOME is not an absolute path; name the playing directory: pacifica DIR" ;;
		esac
	fi
	pacifica_shown "$dir"; shown=$REPLY
	[ -n "$dir" ] || die "the playing directory cannot be an empty name"
	! too_long "$dir" || die "the name of the playing directory is too long"
	# A relative name is never an option of cd's, nor found through CDPATH.
	[[ $dir == /* ]] || dir=./$dir

	if ! pacifica_find_journal && [ "${#args[@]}" = 1 ]; then
		warn "$pacifica_nojournal; playing on"
	fi
	pacifica_take_over

	if [ -e "$dir" ] || [ -L "$dir" ]; then
		[ -d "$dir" ] || die "$shown is not a directory; give a new or empty one"
		{ [ -r "$dir" ] && [ -x "$dir" ]; } || die "cannot read the directory $shown"
		[ "$EUID" != 0 ] || [ -O "$dir" ] ||
			die "$shown belongs to another user; root plays only in a directory of its own"
		CDPATH='' builtin cd -P -- "$dir" || die "cannot enter $shown"
		pacifica_game=$PWD
		shopt -s nullglob dotglob
		entries=(*)
		shopt -u nullglob dotglob
	else
		[ "$EUID" != 0 ] || owned_by_root "$dir" ||
			die "$shown would lie in a directory of another user's; root plays only in a directory of its own"
		make_dir "$dir" "$shown"
		CDPATH='' builtin cd -P -- "$dir" || die "cannot enter $shown"
		pacifica_game=$PWD
	fi
	pacifica_shown "$pacifica_game"
	local game=$REPLY back
	pacifica_read_journal
	if [ "${#entries[@]}" -gt 0 ]; then
		[ -n "$pacifica_known" ] ||
			die "$shown is not empty and holds no game of pacifica's; give a new or empty directory"
		[ -z "$new" ] || [ -n "$yes" ] || [ -t 0 ] ||
			die "the game in $game is set aside only when asked: add --yes"
		[ -z "$new" ] || [ -n "$yes" ] || yesno "Set the game in $game aside and begin a new one?" ||
			die "the game in $game is kept as it was"
	fi
	pacifica_settle
	if [ "${#entries[@]}" = 0 ]; then
		fresh=1
	elif [ -n "$new" ]; then
		set_aside "$game"
		fresh=1
	fi
	if [ -n "$fresh" ]; then
		pacifica_note begun
	else
		pacifica_note resumed
	fi

	if [[ ${HOME-} == /* ]] && [ "$pacifica_game" -ef "$HOME/pacifica" ]; then back=pacifica
	else printf -v back 'pacifica %q' "$pacifica_game"
	fi

	# What the game shell keeps; PACIFICA_GAME tells pacifica that it runs
	# inside a game.
	pacifica_hints=$hints pacifica_back=$back pacifica_fresh=$fresh pacifica_shown_game=$game
	export PACIFICA_GAME=$pacifica_game
}
