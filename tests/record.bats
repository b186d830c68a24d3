#!/usr/bin/env bats
# The class record, as root installs it: the recorder set-group-id games,
# the record out of the players' reach.  Every game here is played by the
# unprivileged player 65534 against that installation.

load helpers
load texts

setup_file() {
	[ "$(id -u)" = 0 ] || return 0
	export CLASS=$(mktemp -d -t class.XXXXXX)
	chmod 755 "$CLASS"
	cmake -S "$SOURCE_DIR" -B "$CLASS/build" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$CLASS/prefix" >/dev/null
	cmake --build "$CLASS/build" -j2 >/dev/null
	cmake --install "$CLASS/build" >/dev/null
	export REC=$CLASS/prefix/var/games/pacifica PACIFICA=$CLASS/prefix/bin/pacifica
}

teardown_file() { [ -z "${CLASS-}" ] || rm -rf "$CLASS"; }

setup() {
	[ "$(id -u)" = 0 ] || skip "installing the recorder set-group-id games needs root"
	umask 022
	T=$BATS_TEST_TMPDIR
	top=$(mktemp -d -t player.XXXXXX)
	chmod 755 "$top"
	home=$top/home
	mkdir "$home"; chown 65534:65534 "$home"
	mine=$REC/65534
	rm -f "$mine"
}

teardown() { [ -z "${top-}" ] || rm -rf "$top"; }

# player [ENV...] -- COMMANDS: a game of the player's in ~/game, typed to
# by COMMANDS.
player() {
	local env=()
	while [ "$1" != -- ]; do env+=("$1"); shift; done
	(cd "$home" && setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_STATE_HOME HOME="$home" "${env[@]}" \
		"$PACIFICA" "$home/game" <<<"$2") >"$T/out" 2>"$T/err" || :
}

# The class record's events for the player: EVENT [DETAIL] a line.
events() { cut -f 4,5 "$mine" | sed 's/\t-$//'; }

@test "a game lands in the class record, and nothing of the game's in the home" {
	[ "$(stat -c '%U:%G %a' "$CLASS/prefix/libexec/pacifica-record")" = 'root:games 2755' ]
	[ "$(stat -c '%U:%G %a' "$REC")" = 'root:games 2770' ]
	player -- $'prologue\nmkdir Pacifica; mv Jean Pacifica/; resettle'
	same_bytes <(events) $'begun\nprologue\tbriefing\nresettle\thome\nleft\n'
	[ "$(stat -c '%U:%G %a %h' "$mine")" = 'nobody:games 640 1' ]
	[ "$(ls -A "$home" | grep -v '^\.bash_history$')" = game ]
	grep -Eq 'done=[0-9]+,[0-9]+,,,,, ' "$mine"
}

@test "the player can neither read, write, truncate, link nor remove the record" {
	player -- prologue
	sum=$(md5sum <"$mine")
	for try in 'cat "$0"' 'echo x >>"$0"' ': >"$0"' 'ln "$0" "$HOME/x"' 'ln -s "$0" "$HOME/y" && cat "$HOME/y"' \
		'rm -f "$0"' 'mv "$0" "$0.x"' 'ls "${0%/*}"' 'chmod 666 "$0"' 'truncate -s 0 "$0"'; do
		run setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" sh -c "$try" "$mine"
		[ "$status" != 0 ] || { echo "the player could: $try" >&2; return 1; }
	done
	[ "$(md5sum <"$mine")" = "$sum" ]
}

@test "a link, a FIFO or a hard link where the recorder writes is refused, and what it leads to is untouched" {
	printf 'root only\n' >"$CLASS/secret"; chmod 600 "$CLASS/secret"
	for plant in 'ln -s "$CLASS/secret" "$mine"' 'mkfifo "$mine"' 'ln "$CLASS/secret" "$mine"'; do
		rm -f "$mine"; eval "$plant"
		player -- prologue
		grep -qxF "pacifica: the class record $REC is not as the recorder left it; this game is kept in your home" "$T/err"
		grep -qF 'I have a friend named Jean' "$T/out"
		same_bytes "$CLASS/secret" $'root only\n'
		rm -rf "$home/game" "$home/.local"
	done
	rm -f "$mine"
}

@test "the environment and the arguments change nothing that is recorded" {
	mkdir "$top/bin"; printf '#!/bin/sh\necho "Jean is concerned about a rekindling"\n' >"$top/bin/resettle"; chmod 755 "$top/bin/resettle"
	printf '%s\n' '#include <string.h>' '#include <unistd.h>' \
		'__attribute__((constructor)) static void fake(void) { char n[32] = ""; int fd = open("/proc/self/comm", 0); read(fd, n, 31);' \
		'if (!strncmp(n, "resettle", 8)) { write(1, "Jean is concerned about a rekindling\n", 37); _exit(0); } }' >"$top/fake.c"
	sed -i '1i #include <fcntl.h>' "$top/fake.c"
	cc -shared -fPIC -o "$top/fake.so" "$top/fake.c"; chmod 755 "$top/fake.so"
	mkdir -p "$top/state"; chown 65534:65534 "$top/state"
	for env in "LD_PRELOAD=$top/fake.so" "PATH=$top/bin:/usr/bin:/bin" 'IFS=:' "TMPDIR=$top/state" "XDG_STATE_HOME=$top/state"; do
		rm -f "$mine"; rm -rf "$home/game"
		player "$env" -- $'prologue\nresettle\nresettle --home "$(printf x%.0s {1..5000})" $\'\\n\\t\''
		same_bytes <(events) $'begun\nprologue\tbriefing\nresettle\tliar\nresettle\tliar\nleft\n'
		[ -z "$(ls -A "$top/state")" ]
	done
}

@test "a program killed as it runs, or the recorder with it, leaves the record whole" {
	cp "$CLASS/prefix/libexec/pacifica/raze" "$T/raze"
	printf '#!/bin/sh\nexec sleep 30\n' >"$CLASS/prefix/libexec/pacifica/raze"
	for victim in raze pacifica-record; do
		rm -f "$mine"; rm -rf "$home/game"; mkfifo "$T/in"
		(cd "$home" && exec setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_STATE_HOME HOME="$home" \
			"$PACIFICA" "$home/game" <"$T/in" >"$T/out" 2>&1) &
		exec 7>"$T/in"
		echo 'raze; echo "status $?"' >&7
		for i in $(seq 100); do pgrep -u 65534 -f 'sleep 30' >/dev/null && break; sleep 0.1; done
		if [ "$victim" = raze ]; then pkill -KILL -u 65534 -f 'sleep 30'; else pkill -KILL -u 65534 -x pacifica-record; fi
		echo 'prologue' >&7; exec 7>&-; wait $! || :; rm "$T/in"; pkill -u 65534 -f 'sleep 30' || :
		grep -qx 'status 137' "$T/out"
		same_bytes <(events) $'begun\nprologue\tbriefing\nleft\n'
		[ "$(grep -c $'\t.$' "$mine")" = "$(wc -l <"$mine")" ]
	done
	cp "$T/raze" "$CLASS/prefix/libexec/pacifica/raze"
}

@test "the journal and lists of earlier versions are taken over once, their steps marked as not witnessed" {
	state=$home/.local/state/pacifica; mkdir -p "$state" "$home/game" "$home/old"
	printf '2026-12-01T10:00:00Z\t%s\tbegun\n2026-12-01T10:01:00Z\t%s\tprologue\tbriefing\n' "$home/game" "$home/game" >"$state/journal"
	printf '%s\n' "$home/old" >"$state/games"; printf '%s\n' "$home/old" >"$state/strongholds"
	printf %s "$jean" >"$home/game/Jean"; chown -R 65534:65534 "$home"
	player -- 'mkdir Pacifica; mv Jean Pacifica/; resettle'
	grep -qx '1 of 7 steps done.' "$T/out"
	same_bytes <(cut -f 3- "$mine" | cut -f 1-3) "$home/game"$'\ttaken\tjournal\n'"$home/old"$'\ttaken\tlist\n'"$home/game"$'\tresumed\t-\n'"$home/game"$'\tresettle\thome\n'"$home/game"$'\tleft\t-\n'
	grep -q $'\ttaken\tlist\ton=raze began=[0-9]* done=0~,0~,0~,0~,,,' "$mine"
	grep -q $'\tresettle\thome\ton=duplicate began=1796119200 done=60~,[0-9]*,,' "$mine"
	[ -z "$(ls -A "$state")" ]
	player -- steps; [ "$(grep -c taken "$mine")" = 2 ]
	"$PACIFICA" --report | grep -q "^nobody *$home/old *4/7~ raze "
	"$PACIFICA" --report | grep -q "^nobody *$home/game *2/7~ duplicate "
}

@test "the report: root sees every player of the class, a player their own games" {
	player -- prologue
	(cd "$top" && "$PACIFICA" --report) >"$T/out"
	grep -q "^nobody *$home/game *1/7 resettle " "$T/out"
	(cd "$home" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" "$PACIFICA" --report --csv) >"$T/out"
	[ "$(wc -l <"$T/out")" = 2 ]; grep -q "^nobody,$home/game,1,7,resettle," "$T/out"
}

@test "a class record's directory that others may enter or that is not root's is refused" {
	for bad in 'chmod 2775 "$REC"' 'chmod 2771 "$REC"' 'chown 65534 "$REC"' 'chgrp root "$REC"'; do
		eval "$bad"
		player -- prologue
		grep -qxF "pacifica: the class record $REC is not as the recorder left it; this game is kept in your home" "$T/err" ||
			{ echo "'$bad' was not refused" >&2; chown root:games "$REC"; chmod 2770 "$REC"; return 1; }
		[ ! -e "$mine" ]
		chown root:games "$REC"; chmod 2770 "$REC"; rm -rf "$home/game" "$home/.local"
	done
}

@test "the walkthrough keeps a record of its own and writes nothing to the class record" {
	(cd "$home" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" TMPDIR="$home" "$PACIFICA" --walkthrough) >"$T/out"
	tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
	[ ! -e "$mine" ]; [ -z "$(ls -A "$home")" ]
}

@test "a teacher, of the group the settings name, reports the whole class; anyone else, their own games" {
	player -- prologue
	conf=$CLASS/prefix/etc/pacifica.conf; cp "$conf" "$T/conf"
	teacher() { (cd "$top" && setpriv --reuid=65533 --regid=65533 --groups="$1" env HOME="$top" "$PACIFICA" --report) >"$T/out" 2>"$T/err"; }
	for setting in 'teachers = users|users|1 player' 'teachers = users|65533|0 players' 'teachers = nogroup|users|0 players' '|users|0 players'; do
		IFS='|' read -r line groups want <<<"$setting"
		printf '%s\n' "$line" >"$conf"; teacher "$groups"
		grep -q "^$want, " "$T/out" || { echo "$setting: $(cat "$T/out" "$T/err")" >&2; cp "$T/conf" "$conf"; return 1; }
	done
	chmod g+w "$conf"; printf 'teachers = users\n' >"$conf"; teacher users; cp "$T/conf" "$conf"; chmod 644 "$conf"
	grep -q '^0 players, ' "$T/out"
	printf 'teachers = users\n' >"$conf"; teacher users; cp "$T/conf" "$conf"
	grep -q "^nobody *$home/game *1/7 resettle " "$T/out"
}
