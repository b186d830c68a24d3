# Shared by the suites: a fresh playing directory per case, runs of the
# programs as a player would make them, and checks of exactly what they
# printed and left behind.

fail() { printf '%s\n' "$*" >&2; return 1; }

# Runs a command as the unprivileged player when the suite runs as root.
as_player() {
	if [ "$EUID" = 0 ]; then
		setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
	else
		"$@"
	fi
}

# The game, laid out as the build tree lays it out (the launcher in bin/,
# the programs in libexec/pacifica/ = BIN), is copied where the
# unprivileged player can run it too.
setup_file() {
	[ -x "${LEVELS:?LEVELS names the directory of the built programs}/prologue" ] ||
		fail "no programs in $LEVELS"
	STAGE=$(mktemp -d -t game.XXXXXX)
	cp -R "$BUILD_DIR"/{bin,libexec,share,etc} "$STAGE"/
	chmod -R u=rwX,go=rX "$STAGE"
	chmod 755 "$STAGE"/bin/* "$STAGE"/libexec/pacifica/*
	BIN=$STAGE/libexec/pacifica PACIFICA=$STAGE/bin/pacifica
	as_player test -x "$BIN/prologue" ||
		fail "user 65534 cannot reach $BIN; set TMPDIR to a directory every user can reach"
	# Beside it, where each case makes a directory of its own, which the
	# player can reach too.
	CASES=$(mktemp -d -t cases.XXXXXX)
	chmod 755 "$CASES"
	export STAGE BIN PACIFICA CASES
}

# The cases' directories go with the suite's, all at once.  Root removes
# what it may not read; anyone else must be let in first.
teardown_file() {
	[ "$EUID" = 0 ] || chmod -R u+rwx "$CASES" 2>/dev/null || :
	rm -rf "$STAGE" "$CASES"
}

# case_dirs: $top, the name of a new directory of the case's own, which
# the case makes, mode 755; and $T for the case's own files.
case_dirs() {
	# Fixtures get the same modes whatever the caller's umask.
	umask 022
	T=$BATS_TEST_TMPDIR
	top=$CASES/$BATS_TEST_NUMBER
}

setup() {
	case_dirs
	play=$top/play
	mkdir "$top" "$play"
	cd "$play"
}

# A line per entry below the playing directory: its path, type, mode,
# link target and modification time; and for each regular file a line of
# the checksum of its bytes and its path, in the order find gives.  What
# cannot be entered or read is left out, and is no failure.
snap() {
	(cd "$play" || exit
	 find . -mindepth 1 -printf '%p %y %m %l %T@\n' -type f -exec md5sum {} + 2>/dev/null || :)
}

# in_dir PATH: PATH's directory made, if PATH names one.
in_dir() { [[ $1 != */* ]] || mkdir -p "${1%/*}"; }

# run_level [--player] [--umask M] [--fsize N] [--merged] [--no-stdin] NAME
# [ARG...]: runs a program in the playing directory, stdout and stderr to
# files (--merged: both to the one), its status in $status.  --player runs
# it as an unprivileged user who owns the playing directory (root would
# ignore the permissions under test).  --no-stdin starts it with standard
# input closed, so that its first open gets descriptor 0.
run_level() {
	status=0
	# In a subshell without the trap bats sets at every command, which
	# would cost more than the run itself; likewise in expect.
	(trap - DEBUG; level_run "$@") || status=$?
}
level_run() {
	local player= mask=022 fsize= merged= closed= ran
	while :; do
		case $1 in
		--player) player=1; shift ;;
		--umask) mask=$2; shift 2 ;;
		--fsize) fsize=$2; shift 2 ;;
		--merged) merged=1; shift ;;
		--no-stdin) closed=1; shift ;;
		*) break ;;
		esac
	done
	local cmd=(timeout 10 "$BIN/$1" "${@:2}")
	[ -z "$fsize" ] || cmd=(prlimit --fsize="$fsize" "${cmd[@]}")
	if [ -n "$player" ]; then
		[ "$EUID" != 0 ] || chown -R -h 65534:65534 "$play"
		cmd=(as_player "${cmd[@]}")
	fi
	snap >"$T/before"
	# Standard output goes through a pipe, as to a pager, and so stays out
	# of reach of --fsize.
	(umask "$mask"; trap '' XFSZ; [ -z "$merged" ] || exec 2>&1
	 [ -z "$closed" ] || exec 0<&-
	 "${cmd[@]}") 2>"$T/err" </dev/null | cat >"$T/out"
	ran=${PIPESTATUS[0]}
	snap >"$T/after"
	return "$ran"
}

# Compares the bytes of file $1 with $2, showing both on a difference.
# Read once, by bash itself: $1 may be a pipe, and a case compares many.
same_bytes() {
	local got= zero=
	[ -r "$1" ] || { fail "cannot read $1"; return; }
	# read stops only at a zero byte, which $2 cannot hold.
	! IFS= read -r -d '' got <"$1" || zero=' (then a zero byte)'
	[ -z "$zero" ] && [ "$got" = "$2" ] && return
	printf 'want:\n%s\ngot%s:\n%s\n' "$(printf %s "$2" | cat -A)" "$zero" "$(printf %s "$got" | cat -A)" >&2
	return 1
}

# expect STATUS STDOUT [STDERR]: the run's status and exact output.
expect() {
	(trap - DEBUG
	 { [ "$status" = "$1" ] || fail "status $status, want $1"; } &&
		same_bytes "$T/out" "$2" && same_bytes "$T/err" "${3-}")
}

# changed [PATH...]: nothing in the playing directory changed but PATHs;
# else the lines of the snapshots that differ, - before and + after.
changed() {
	awk -v keep=" $* " '
		{ path = $1 ~ /^\.\// ? $1 : $2 }
		index(keep, " " substr(path, 3) " ") { next }
		FILENAME == ARGV[1] { n[$0]++; next }
		{ n[$0]-- }
		END { for (line in n) if (n[line]) { print (n[line] > 0 ? "-" : "+") line; differ = 1 }; exit differ }
	' "$T/before" "$T/after" >&2
}

unchanged() { changed; }

# has_file PATH MODE BYTES: a regular file with this mode and content.
has_file() {
	[ -f "$1" ] && [ ! -L "$1" ] || fail "$1 is not a regular file"
	[ "$(stat -c %a "$1")" = "$2" ] || fail "$1 has mode $(stat -c %a "$1"), want $2"
	same_bytes "$1" "$3"
}

# The record's index, as bytes: the offset of game N's slot in INDEX, and
# a number put at an offset (perl's pack format) or read from one.
slot() { echo $((88 + (8 << $(od -An -tu4 -j56 -N4 "$1")) + ($2 - 1) * 16)); }
poke() { perl -e 'print pack($ARGV[0], $ARGV[1])' "$3" "$4" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
peek() { od -An -tu8 -j"$2" -N8 "$1" | tr -d ' '; }
# Every entry of the index's table that names game 1 made to name game 2,
# or, with "lost", made an empty one.
retable() {
	perl -e 'open(F, "+<", $ARGV[0]) or die; binmode F; read(F, $h, 88); $n = 1 << unpack("L", substr($h, 56, 4));
		for $i (0 .. $n - 1) { seek(F, 88 + 8 * $i, 0); read(F, $e, 8); ($hash, $game) = unpack("LL", $e); next if $game != 1;
			seek(F, 88 + 8 * $i, 0); print F $ARGV[1] ? pack("LL", 0, 0) : pack("LL", $hash, 2); }' "$1" "${2:+1}"
}
