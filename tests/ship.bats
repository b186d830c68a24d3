#!/usr/bin/env bats
# What a teacher gets: the walkthrough, the manual pages, an installation
# and the Debian package.

setup() { T=$BATS_TEST_TMPDIR; }

pages="pacifica prologue resettle duplicate raze celebrate retribute"
levels="prologue resettle duplicate raze celebrate retribute"

@test "the walkthrough plays the whole game" { "$SOURCE_DIR/play" --bin "$LEVELS" --walkthrough >"$T/out"; tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'; }

@test "the walkthrough names a step that fails" {
	mkdir "$T/bin"; cp "$LEVELS"/* "$T/bin"/; cp "$LEVELS/prologue" "$T/bin/retribute"
	run "$SOURCE_DIR/play" --bin "$T/bin" --walkthrough
	[ "$status" = 1 ]; [ "${lines[-1]}" = "walkthrough: the step of 'retribute' failed (status 0)" ]
}

@test "play refuses a directory that is not empty" {
	mkdir "$T/used"; touch "$T/used/x"
	run "$SOURCE_DIR/play" --bin "$LEVELS" "$T/used"
	[ "$status" = 1 ]; [ "$output" = "play: $T/used is not an empty directory; give a new or empty one" ]
}

@test "every manual page renders without a warning" {
	for p in $pages; do groff -man -ww -z "$SOURCE_DIR/man/$p.6" 2>&1 | sed "s/^/$p: /" >>"$T/warnings"; done
	[ ! -s "$T/warnings" ] || { cat "$T/warnings" >&2; false; }
}

@test "cmake --install puts the programs and manual pages under the prefix" {
	cmake --install "$BUILD_DIR" --prefix "$T/prefix" >/dev/null
	for l in $levels; do [ -x "$T/prefix/bin/$l" ]; done
	for p in $pages; do gzip -t "$T/prefix/share/man/man6/$p.6.gz"; done
	[ "$(find "$T/prefix" -type f | wc -l)" = 13 ]
}

@test "the Debian package installs a game that plays" {
	(cd "$BUILD_DIR" && cpack -G DEB -B "$T/deb" >/dev/null)
	deb=$(echo "$T"/deb/pacifica_*.deb)
	[ "$(dpkg-deb -f "$deb" Package Section)" = $'Package: pacifica\nSection: games' ]
	dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>= '
	dpkg-deb -f "$deb" Maintainer | grep -q '<.*@.*>'
	dpkg-deb -x "$deb" "$T/root"
	for p in $pages; do
		# Byte 9 of a gzip header is 2 for the slowest, best compression.
		[ "$(od -An -tu1 -j8 -N1 "$T/root/usr/share/man/man6/$p.6.gz" | tr -d ' ')" = 2 ]
	done
	[ "$(ls "$T/root/usr/games" | sort | tr '\n' ' ')" = "celebrate duplicate prologue raze resettle retribute " ]
	"$SOURCE_DIR/play" --bin "$T/root/usr/games" --walkthrough >/dev/null
}
