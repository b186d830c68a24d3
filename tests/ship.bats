#!/usr/bin/env bats
# What a teacher gets: the walkthrough, the manual pages and an
# installation.

load helpers

setup() { umask 022; T=$BATS_TEST_TMPDIR; }

pages="pacifica pacifica-record prologue resettle duplicate raze celebrate retribute"

# walks LAUNCHER: the launcher plays the whole walkthrough.
walks() {
	"$1" --walkthrough >"$T/out" || { cat "$T/out" >&2; return 1; }
	head -n 1 "$T/out" | grep -q '^A walkthrough of the game in .*, which is removed at the end\.$'
	tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
}

@test "the walkthrough plays the whole game and leaves nothing" { TMPDIR=$T walks "$PACIFICA"; [ -z "$(find "$T" -name 'pacifica-*')" ]; }

@test "the walkthrough names a step that fails" {
	cp -R "$STAGE" "$T/game"; cp "$BIN/prologue" "$T/game/libexec/pacifica/retribute"
	run "$T/game/bin/pacifica" --walkthrough
	[ "$status" = 1 ]; [ "${lines[-1]}" = "walkthrough: the step of 'retribute' failed (status 0)" ]
}

@test "every manual page renders without a warning" {
	for p in $pages; do groff -man -ww -z "$SOURCE_DIR/man/$p.6" 2>&1 | sed "s/^/$p: /" >>"$T/warnings"; done
	[ ! -s "$T/warnings" ] || { cat "$T/warnings" >&2; false; }
}

# built_for NAME=VALUE...: in $built, a build tree whose cache holds these
# settings.  The build under test, when it does, is installed as it is;
# else the case configures one of its own.  Only the launcher and the
# recorder know where the rest lies: they are built there, unoptimised
# (the optimised code is the build under test's), and the programs, which
# know nothing of the layout, are the build under test's.
built_for() {
	local set level
	built=$BUILD_DIR
	for set in "$@"; do
		grep -q "^${set%%=*}:[A-Z]*=${set#*=}\$" "$BUILD_DIR/CMakeCache.txt" && continue
		built=$T/build
		cmake -S "$SOURCE_DIR" -B "$built" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=None "${@/#/-D}" >/dev/null
		mkdir -p "$built/libexec/pacifica"
		for level in $(grep '^answer|' "$SOURCE_DIR/launcher/story.table" | cut -d '|' -f 2 | sort -u); do
			cp -p "$LEVELS/$level" "$built/libexec/pacifica/"
		done
		cmake --build "$built" -j2 --target pacifica-record_installed >/dev/null
		return
	done
}

# An installation from $built.  As a component, so that the build keeps
# the install manifest of its last real installation.
install_built() { cmake --install "$built" --component Unspecified "$@" >/dev/null; }

@test "cmake --install gives a prefix whose pacifica plays, in bin/" {
	built_for PACIFICA_INSTALL_BINDIR=bin CMAKE_INSTALL_SYSCONFDIR=etc
	install_built --prefix "$T/prefix"
	(cd "$T/prefix" && find . -type f | sort) >"$T/files"
	# The command is a link to the recorder.
	[ "$(readlink "$T/prefix/bin/pacifica")" = ../libexec/pacifica-record ]
	diff - "$T/files" <<-'EOF'
		./etc/pacifica.conf
		./libexec/pacifica-record
		./libexec/pacifica/celebrate
		./libexec/pacifica/duplicate
		./libexec/pacifica/prologue
		./libexec/pacifica/raze
		./libexec/pacifica/resettle
		./libexec/pacifica/retribute
		./share/man/man6/celebrate.6
		./share/man/man6/duplicate.6
		./share/man/man6/pacifica-record.6
		./share/man/man6/pacifica.6
		./share/man/man6/prologue.6
		./share/man/man6/raze.6
		./share/man/man6/resettle.6
		./share/man/man6/retribute.6
		./share/pacifica/bashrc.bash
		./share/pacifica/gamerc.bash
		./share/pacifica/pacifica.bash
		./share/pacifica/prompt.bash
		./share/pacifica/view.bash
	EOF
	for p in $pages; do cmp "$SOURCE_DIR/man/$p.6" "$T/prefix/share/man/man6/$p.6"; done
	walks "$T/prefix/bin/pacifica"
}

@test "cmake --install as Debian lays it out plays from games/, with the settings in /etc" {
	built_for CMAKE_INSTALL_PREFIX=/usr PACIFICA_INSTALL_BINDIR=games CMAKE_INSTALL_SYSCONFDIR=/etc
	DESTDIR=$T/root install_built
	[ "$(ls "$T/root/usr/games")" = pacifica ]
	walks "$T/root/usr/games/pacifica"
	printf 'hints = off\n' >"$T/root/etc/pacifica.conf"
	mkdir "$T/home"; HOME=$T/home "$T/root/usr/games/pacifica" "$T/game" <<<hint 2>/dev/null | grep -qx 'Hints are off in this game.'
}

@test "the launcher, the manual pages and the package agree on the version" {
	v=$("$PACIFICA" --version); v=${v#pacifica }
	[ "$(dpkg-parsechangelog -l "$SOURCE_DIR/debian/changelog" -S Version)" = "$v" ]
	for p in $pages; do head -n 1 "$SOURCE_DIR/man/$p.6" | grep -qF "\"pacifica $v\""; done
}

@test "play names the one line that installs what is missing, when it may not install it" {
	# A directory the unprivileged player can reach, on a PATH without bats.
	d=$(mktemp -d -t play.XXXXXX); chmod 755 "$d"; mkdir "$d/fake" "$d/src"; cp "$SOURCE_DIR/play" "$d/src/"
	for c in bash dirname id apt-get cmake g++ make awk script setpriv groff dpkg-parsechangelog tmux strace; do
		ln -s "$(command -v "$c")" "$d/fake/$c"
	done
	status=0
	as_player env PATH="$d/fake" "$d/fake/bash" "$d/src/play" --walkthrough </dev/null >"$T/out" 2>"$T/err" || status=$?
	[ ! -e "$d/src/build" ]; rm -rf "$d"
	[ "$status" = 1 ]; [ ! -s "$T/out" ]
	same_bytes "$T/err" $'play: the build needs bats; install them with: sudo apt-get install -y --no-install-recommends bats\n'
}
