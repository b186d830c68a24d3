#!/usr/bin/env bats
# What a teacher gets: the walkthrough, the manual pages and an
# installation.

load helpers

setup() { umask 022; T=$BATS_TEST_TMPDIR; }
teardown() { :; }

pages="pacifica prologue resettle duplicate raze celebrate retribute"
programs="pacifica prologue resettle duplicate raze celebrate retribute"

# walks DIR: the launcher in DIR plays the whole walkthrough.
walks() {
	"$1/pacifica" --walkthrough >"$T/out" || { cat "$T/out" >&2; return 1; }
	head -n 1 "$T/out" | grep -q '^A walkthrough of the game in .*, which is removed at the end\.$'
	tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
}

@test "the walkthrough plays the whole game and leaves nothing" { TMPDIR=$T walks "$BIN"; [ -z "$(find "$T" -name 'pacifica-*')" ]; }

@test "the walkthrough names a step that fails" {
	mkdir "$T/bin"; cp "$BIN"/* "$T/bin"/; cp "$BIN/prologue" "$T/bin/retribute"
	run "$T/bin/pacifica" --walkthrough
	[ "$status" = 1 ]; [ "${lines[-1]}" = "walkthrough: the step of 'retribute' failed (status 0)" ]
}

@test "every manual page renders without a warning" {
	for p in $pages; do groff -man -ww -z "$SOURCE_DIR/man/$p.6" 2>&1 | sed "s/^/$p: /" >>"$T/warnings"; done
	[ ! -s "$T/warnings" ] || { cat "$T/warnings" >&2; false; }
}

# A build of its own, so that the build under test keeps the install
# manifest of the last real installation.
@test "cmake --install gives a prefix whose pacifica plays, in bin/ or games/" {
	cmake -S "$SOURCE_DIR" -B "$T/build" -DBUILD_TESTING=OFF >/dev/null
	cmake --build "$T/build" -j2 >/dev/null
	cmake --install "$T/build" --prefix "$T/prefix" >/dev/null
	for p in $programs; do [ -x "$T/prefix/bin/$p" ]; done
	for p in $pages; do cmp "$SOURCE_DIR/man/$p.6" "$T/prefix/share/man/man6/$p.6"; done
	[ "$(find "$T/prefix" -type f | wc -l)" = 14 ]
	walks "$T/prefix/bin"
	cmake -S "$SOURCE_DIR" -B "$T/build" -DPACIFICA_INSTALL_BINDIR=games >/dev/null
	cmake --install "$T/build" --prefix "$T/games" >/dev/null
	[ "$(ls "$T/games/games" | tr '\n' ' ')" = "celebrate duplicate pacifica prologue raze resettle retribute " ]
	walks "$T/games/games"
}

@test "the launcher, the manual pages and the package agree on the version" {
	v=$("$BIN/pacifica" --version); v=${v#pacifica }
	[ "$(dpkg-parsechangelog -l "$SOURCE_DIR/debian/changelog" -S Version)" = "$v" ]
	for p in $pages; do head -n 1 "$SOURCE_DIR/man/$p.6" | grep -qF "\"pacifica $v\""; done
}
