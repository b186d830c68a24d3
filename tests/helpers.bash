# Shared by the suites: a fresh playing directory per case, runs of the
# programs as a player would make them, and checks of exactly what they
# printed and left behind.

fail() { printf '%s\n' "$*" >&2; return 1; }

# Runs a command as the unprivileged player when the suite runs as root.
as_player() {
	if [ "$(id -u)" = 0 ]; then
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
	export STAGE BIN PACIFICA
}

teardown_file() { rm -rf "$STAGE"; }

setup() {
	# Fixtures get the same modes whatever the caller's umask.
	umask 022
	T=$BATS_TEST_TMPDIR
	top=$(mktemp -d -t play.XXXXXX)
	chmod 755 "$top"
	play=$top/play
	mkdir "$play"
	cd "$play"
}

teardown() {
	cd /
	chmod -R u+rwx "$top" 2>/dev/null || true
	rm -rf "$top"
}

# A line per entry below the playing directory: type, mode, link target,
# modification time and, for regular files, a checksum of the bytes.
snap() {
	(cd "$play" || exit
	 find . -mindepth 1 -printf '%p %y %m %l %T@\n' | sort
	 find . -type f -exec md5sum {} + 2>/dev/null |
		awk '{ h = $1; sub(/^[^ ]+ +/, ""); print $0, "md5", h }' | sort)
}

# run_level [--player] [--umask M] [--fsize N] [--merged] [--no-stdin] NAME
# [ARG...]: runs a program in the playing directory, stdout and stderr to
# files (--merged: both to the one), its status in $status.  --player runs
# it as an unprivileged user who owns the playing directory (root would
# ignore the permissions under test).  --no-stdin starts it with standard
# input closed, so that its first open gets descriptor 0.
run_level() {
	local player= mask=022 fsize= merged= closed=
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
		[ "$(id -u)" != 0 ] || chown -R -h 65534:65534 "$play"
		cmd=(as_player "${cmd[@]}")
	fi
	snap >"$T/before"
	# Standard output goes through a pipe, as to a pager, and so stays out
	# of reach of --fsize.
	(umask "$mask"; trap '' XFSZ; [ -z "$merged" ] || exec 2>&1
	 [ -z "$closed" ] || exec 0<&-
	 "${cmd[@]}") 2>"$T/err" </dev/null | cat >"$T/out"
	status=${PIPESTATUS[0]}
	snap >"$T/after"
}

# Compares the bytes of file $1 with $2, showing both on a difference.
same_bytes() {
	printf '%s' "$2" >"$T/want"
	# Read once: $1 may be a pipe.
	cat "$1" >"$T/bytes"
	cmp -s "$T/want" "$T/bytes" && return
	printf 'want:\n%s\ngot:\n%s\n' "$(cat -A "$T/want")" "$(cat -A "$T/bytes")" >&2
	return 1
}

# expect STATUS STDOUT [STDERR]: the run's status and exact output.
expect() {
	[ "$status" = "$1" ] || fail "status $status, want $1"
	same_bytes "$T/out" "$2"
	same_bytes "$T/err" "${3-}"
}

# changed [PATH...]: nothing in the playing directory changed but PATHs.
changed() {
	local keep=" $* "
	diff -u <(awk -v k="$keep" 'index(k, " " substr($1, 3) " ") == 0' "$T/before") \
		<(awk -v k="$keep" 'index(k, " " substr($1, 3) " ") == 0' "$T/after") >&2
}

unchanged() { changed; }

# has_file PATH MODE BYTES: a regular file with this mode and content.
has_file() {
	[ -f "$1" ] && [ ! -L "$1" ] || fail "$1 is not a regular file"
	[ "$(stat -c %a "$1")" = "$2" ] || fail "$1 has mode $(stat -c %a "$1"), want $2"
	same_bytes "$1" "$3"
}
