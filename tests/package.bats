#!/usr/bin/env bats
# The Debian package as a class's machine gets it; DEB names the .deb.

setup_file() {
	[ -f "${DEB:?DEB names the package to test}" ] || { echo "no package at $DEB" >&2; return 1; }
	export ROOT=$BATS_FILE_TMPDIR/root
	dpkg-deb -x "$DEB" "$ROOT"
}

setup() { T=$BATS_TEST_TMPDIR; }

@test "the package puts only the launcher on the PATH, and the machine's settings in a conffile" {
	dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { print $6 }' >"$T/files"
	diff - "$T/files" <<-'EOF'
		./etc/pacifica.conf
		./usr/libexec/pacifica/celebrate
		./usr/libexec/pacifica/duplicate
		./usr/libexec/pacifica/prologue
		./usr/libexec/pacifica/raze
		./usr/libexec/pacifica/resettle
		./usr/libexec/pacifica/retribute
		./usr/libexec/pacifica-record
		./usr/share/doc/pacifica/changelog.gz
		./usr/share/doc/pacifica/copyright
		./usr/share/lintian/overrides/pacifica
		./usr/share/man/man6/celebrate.6.gz
		./usr/share/man/man6/duplicate.6.gz
		./usr/share/man/man6/pacifica-record.6.gz
		./usr/share/man/man6/pacifica.6.gz
		./usr/share/man/man6/prologue.6.gz
		./usr/share/man/man6/raze.6.gz
		./usr/share/man/man6/resettle.6.gz
		./usr/share/man/man6/retribute.6.gz
		./usr/share/pacifica/bashrc.bash
		./usr/share/pacifica/gamerc.bash
		./usr/share/pacifica/pacifica.bash
		./usr/share/pacifica/prompt.bash
		./usr/share/pacifica/view.bash
		./usr/games/pacifica
		./usr/libexec/pacifica/by-hand/celebrate
		./usr/libexec/pacifica/by-hand/duplicate
		./usr/libexec/pacifica/by-hand/prologue
		./usr/libexec/pacifica/by-hand/raze
		./usr/libexec/pacifica/by-hand/resettle
		./usr/libexec/pacifica/by-hand/retribute
	EOF
	# The command, and the recorder under the programs' names, for the
	# runs by hand, are links to the recorder.
	dpkg-deb -c "$DEB" | grep -q ' ./usr/games/pacifica -> \.\./libexec/pacifica-record$'
	[ "$(dpkg-deb -c "$DEB" | grep -c ' ./usr/libexec/pacifica/by-hand/[a-z]* -> \.\./\.\./pacifica-record$')" = 6 ]
	dpkg-deb --ctrl-tarfile "$DEB" | tar -xO ./conffiles | grep -qx /etc/pacifica.conf
	# The recorder set-group-id games and the class record's directory as
	# the package ships them, so that no install has a moment without.
	dpkg-deb -c "$DEB" | grep -q '^-rwxr-sr-x root/games .* \./usr/libexec/pacifica-record$'
	dpkg-deb -c "$DEB" | grep -q '^drwxrws--- root/games .* \./var/games/pacifica/$'
	! dpkg-deb --ctrl-tarfile "$DEB" | tar -t | grep -q postinst
}

@test "the package is a game, in section games, that needs only the C library" {
	[ "$(dpkg-deb -f "$DEB" Package Section)" = $'Package: pacifica\nSection: games' ]
	[[ "$(dpkg-deb -f "$DEB" Depends)" =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]]
}

@test "the package's pacifica plays the walkthrough" {
	"$ROOT/usr/games/pacifica" --walkthrough >"$T/out"
	tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
}

@test "the package's pacifica starts a game, resumes it, and its programs are out of the PATH" {
	mkdir "$T/home"
	env -u XDG_STATE_HOME HOME="$T/home" "$ROOT/usr/games/pacifica" <<<prologue >"$T/out" 2>/dev/null
	grep -qF 'I have a friend named Jean' "$T/out"
	env -u XDG_STATE_HOME HOME="$T/home" "$ROOT/usr/games/pacifica" </dev/null >"$T/out" 2>/dev/null
	head -n 1 "$T/out" | grep -qx "Welcome back to Pacifica.  Your game is in $T/home/pacifica, as you left it."
	grep -qx 'Next: when Jean is home in Pacifica, run resettle.' "$T/out"
	run env PATH="$ROOT/usr/games" /bin/bash -c "command -v prologue"; [ "$status" = 1 ]
}
