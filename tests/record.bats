#!/usr/bin/env bats
# The class record, as root installs it: the recorder set-group-id games,
# the record out of the players' reach.  Every game here is played by the
# unprivileged player 65534 (65533 is another player, or a teacher)
# against that installation, as a hostile student would: every row checks
# that each line of every class record is the recorder's own, that no
# step is done that the playing directory does not show, and that the
# report is whole.

load helpers
load texts

setup_file() {
	[ "$(id -u)" = 0 ] || return 0
	export CLASS=$(mktemp -d -t class.XXXXXX)
	chmod 755 "$CLASS"
	# Only the launcher and the recorder know the prefix: they are built
	# for it, unoptimised; the programs are the build under test's.
	cmake -S "$SOURCE_DIR" -B "$CLASS/build" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX="$CLASS/prefix" >/dev/null
	mkdir -p "$CLASS/build/libexec/pacifica"; cp -p "$LEVELS"/{prologue,resettle,duplicate,raze,celebrate,retribute} "$CLASS/build/libexec/pacifica/"
	cmake --build "$CLASS/build" -j2 --target pacifica-record_installed >/dev/null
	cmake --install "$CLASS/build" >/dev/null
	export REC=$CLASS/prefix/var/games/pacifica PACIFICA=$CLASS/prefix/bin/pacifica
	export RECORDER=$CLASS/prefix/libexec/pacifica-record LIBEXEC=$CLASS/prefix/libexec/pacifica
}

teardown_file() { [ -z "${CLASS-}" ] || rm -rf "$CLASS"; }

setup() {
	[ "$(id -u)" = 0 ] || skip "installing the recorder set-group-id games needs root"
	umask 022
	T=$BATS_TEST_TMPDIR
	top=$(mktemp -d -t player.XXXXXX)
	chmod 755 "$top"
	home=$top/home other=$top/other
	mkdir "$home" "$other"; chown 65534:65534 "$home"; chown 65533:65533 "$other"
	# A fresh class record for every case.
	find "$REC" -mindepth 1 -delete
	mine=$REC/65534/record
}

teardown() {
	[ -z "${top-}" ] || rm -rf "$top"
	[ -z "${started-}" ] || kill -KILL $started 2>/dev/null || :
}

# as USER CMD...: a command of uid USER's, in their own group alone.
as() { local id=$1; shift; setpriv --reuid="$id" --regid="$id" --clear-groups "$@"; }

# player [ENV...] -- COMMANDS: a game of the player's in ~/game, typed to
# by COMMANDS; its status in $status.
player() {
	local env=()
	while [ "$1" != -- ]; do env+=("$1"); shift; done
	status=0
	(cd "$home" && as 65534 env -u XDG_STATE_HOME HOME="$home" "${env[@]}" "$PACIFICA" "$home/game" <<<"$2") \
		>"$T/out" 2>"$T/err" || status=$?
}

# recorder [ENV...] -- ARG...: the recorder run by the player by hand in
# the playing directory, as a game shell of game 1 would run it.
recorder() {
	local env=()
	while [ "$1" != -- ]; do env+=("$1"); shift; done
	shift
	status=0
	(cd "$home/game" && as 65534 env HOME="$home" PACIFICA_GAME=1 "${env[@]}" "$RECORDER" "$@") \
		>"$T/out" 2>"$T/err" || status=$?
}

# The player's events: EVENT [DETAIL] a line, the previous generation's
# first.
events() { cat "$REC"/65534/record.1 "$mine" 2>/dev/null | cut -f 4,5 | sed 's/\t-$//'; }

# A line as the recorder writes it, and nothing else.
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z'
state='on=[a-z]+ began=[0-9]+ done=[0-9~]*(,[0-9~]*){6} last=[a-z_-]+(:[a-z]+)? runs=[0-9]+ hints=[0-9]+ active=[0-9]+'
state+=' sessions=[0-9]+ words=[0-9]+ outside=[0-9]+ asked=[0-9]+ about=[0-9]+ nudged=[0-9]+ left=[01] games=[0-9]+'
events_known='begun|resumed|left|aside|taken|hint|word|bridge|outside|byhand|prologue|resettle|duplicate|raze|celebrate|retribute'
line_re="^$stamp"$'\t'"[0-9]+"$'\t'"/[^"$'\t'"]*"$'\t'"($events_known)"$'\t'"[^"$'\t'"]+"$'\t'"$state"$'\t'"\\.\$"

# Every file of the class record is as the recorder leaves it, and every
# line of its generations is the recorder's own: none the player forged,
# none torn.  The view beside a record, one line of a game's number, step
# and directory, is no part of it.
class_sound() {
	local f bad
	while read -r f; do
		bad=$(grep -Evc -- "$line_re" "$f") || :
		[ "$bad" = 0 ] || { echo "$f has $bad lines that are not the recorder's:" >&2; grep -Ev -- "$line_re" "$f" | cat -A >&2; return 1; }
	done < <(find "$REC" -mindepth 2 -type f -name 'record*')
	while read -r f; do
		grep -Eqx '[0-9]+ [a-z_]+ /.*' "$f" && [ "$(grep -c . "$f")" = 1 ] || { echo "$f is not a view:" >&2; cat -A "$f" >&2; return 1; }
	done < <(find "$REC" -mindepth 2 -type f -name view)
	! grep -rqa --exclude=view forged "$REC" || { echo "a forged line is in the class record" >&2; return 1; }
	[ -z "$(find "$REC" -mindepth 1 -maxdepth 1 ! \( -type d -perm 2770 -group games \))" ] ||
		{ ls -la "$REC" >&2; return 1; }
	[ -z "$(find "$REC" -mindepth 2 -type f ! \( -perm 640 -group games -links 1 \))" ] || { ls -laR "$REC" >&2; return 1; }
}

# steps WANT: root's report is whole, and its CSV gives the player's game
# in ~/game WANT steps done.
steps() {
	"$PACIFICA" --report --csv >"$T/report" 2>"$T/report.err" || { cat "$T/report" "$T/report.err" >&2; return 1; }
	[ "$(awk -F, -v d="$home/game" '$2 == d { print $3 }' "$T/report")" = "$1" ] ||
		{ echo "want $1 steps done:" >&2; cat "$T/report" >&2; return 1; }
}

# sound WANT: the class record as the recorder leaves it, whole, with WANT
# steps done.
sound() { class_sound && steps "$1"; }

# A line in the record's own shape, of the player's game 1, that would
# finish it: what a student would forge.
forged_line() {
	printf '2026-12-09T10:00:00Z\t1\t%s\tretribute\tdone\ton=finished began=1796810400 done=0,1,2,3,4,5,6 last=forged:done runs=0 hints=0 active=1800 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1\t.\n' "$home/game"
}

# descendant PID COMM: a process below PID of that name, waited for
# boundedly; the test fails when none comes.
descendant() {
	local i pid kids
	for ((i = 0; i < 200; i++)); do
		kids=$(cat /proc/"$1"/task/*/children 2>/dev/null)
		while [ -n "$kids" ]; do
			for pid in $kids; do
				[ "$(cat "/proc/$pid/comm" 2>/dev/null)" != "$2" ] || { echo "$pid"; return; }
			done
			kids=$(for pid in $kids; do cat /proc/"$pid"/task/*/children 2>/dev/null; done)
		done
		sleep 0.05
	done
	echo "no $2 came below $1" >&2
	return 1
}

@test "what the loader takes out of the set-group-id recorder's environment, the game shell has back as the player gave it" {
	mkdir "$home/t m=p"; chown 65534:65534 "$home/t m=p"
	player TMPDIR="$home/t m=p" LD_LIBRARY_PATH=/nowhere TZDIR=/usr/share/zoneinfo -- \
		'printf "%s|" "$TMPDIR" "$LD_LIBRARY_PATH" "$TZDIR" "${PACIFICA_KEPT_TMPDIR-none}"; echo'
	grep -qxF "$home/t m=p|/nowhere|/usr/share/zoneinfo|none|" "$T/out" || { cat "$T/out" "$T/err" >&2; return 1; }
}

@test "a game lands in the class record, of the player's own and out of their reach, whatever the umask" {
	[ "$(stat -c '%U:%G %a' "$RECORDER")" = 'root:games 2755' ]
	[ "$(stat -c '%U:%G %a' "$REC")" = 'root:games 2770' ]
	[ "$(stat -c '%a' "$LIBEXEC/prologue")" = 711 ]
	# The player's umask is theirs in the game: one that shuts the playing
	# directory to its owner shuts it to the game's programs too.
	for row in '022:briefing:home:2' '077:briefing:home:2' '0277:unwritable:liar:0'; do
		IFS=: read -r mask prologue resettle done <<<"$row"
		find "$REC" -mindepth 1 -delete; chmod -R u+rwx "$home/game" 2>/dev/null || :; rm -rf "$home/game"
		umask "$mask"; player -- $'prologue\nmkdir Pacifica; mv Jean Pacifica/; resettle'; umask 022
		same_bytes <(events) "begun"$'\n'"prologue"$'\t'"$prologue"$'\n'"resettle"$'\t'"$resettle"$'\nleft\n' || fail "umask $mask: $(cat "$T/out" "$T/err")"
		[ "$(stat -c '%U:%G %a' "$REC/65534" "$mine")" = $'nobody:games 2770\nnobody:games 640' ]
		sound "$done"
	done
	chmod -R u+rwx "$home/game"; rm -rf "$home/game"
	find "$REC" -mindepth 1 -delete; umask 0777; player -- prologue; umask 022
	[ "$status" = 1 ]; same_bytes "$T/err" "pacifica: cannot enter $home/game"$'\n'; [ ! -s "$mine" ]
	[ "$(ls -A "$home" | grep -v '^\.bash_history$')" = game ]
}

@test "the player can neither read, write, truncate, link nor remove the record or its index, nor list the class record" {
	player -- prologue
	sum=$(md5sum <"$mine"; md5sum <"$REC/65534/index")
	for file in "$mine" "$REC/65534/index"; do
		for try in 'cat "$0"' 'echo x >>"$0"' ': >"$0"' 'ln "$0" "$HOME/x"' 'ln -s "$0" "$HOME/y" && cat "$HOME/y"' \
			'rm -f "$0"' 'mv "$0" "$0.x"' 'ls "${0%/*}"' 'ls "${0%/*/*}"' 'chmod 666 "$0"' 'truncate -s 0 "$0"' 'mkdir "${0%/*/*}/x"'; do
			run as 65534 env HOME="$home" sh -c "$try" "$file"
			[ "$status" != 0 ] || { echo "the player could: $try, on $file" >&2; return 1; }
		done
	done
	[ "$(md5sum <"$mine"; md5sum <"$REC/65534/index")" = "$sum" ]
	sound 1
}

@test "no variable, descriptor or argument of the player's puts a line of theirs in the class record" {
	player -- prologue
	forged_line >"$home/forged"; mkdir -p "$home/own"; forged_line >"$home/own/record"; chown -R 65534:65534 "$home"
	# Each variable the recorder reads, set to each descriptor 3 to 9 (the
	# recorder's own, then the player's forged file on all of them) and to
	# the file; each verb.
	cat >"$top/try" <<-'EOF'
		cd "$HOME/game" || exit 1
		# A file of no name, as the game shell's session file is: the class
		# record takes no session's lines.
		exec 3<>"$HOME/unlinked"; cat "$HOME/forged" >&3; rm "$HOME/unlinked"
		for verb in 'run resettle' 'note hint' hint steps leave; do
			# shellcheck disable=SC2086
			env PACIFICA_GAME=1 PACIFICA_SESSION=3 "$RECORDER" $verb >/dev/null 2>&1
		done
		exec 3<&-
		for open in none forged; do
			[ "$open" = none ] || exec 3<>"$HOME/forged" 4<>"$HOME/forged" 5<>"$HOME/forged" 6<>"$HOME/forged" \
				7<>"$HOME/forged" 8<>"$HOME/forged" 9<>"$HOME/forged"
			for var in PACIFICA_SAY PACIFICA_SESSION PACIFICA_GAME PACIFICA_RECORD_DIR PACIFICA_HINTS; do
				for value in 3 4 5 6 7 8 9 "$HOME/forged" "$HOME/own"; do
					for verb in 'run resettle' 'run prologue --forged' 'view -e' 'note hint' 'note begun' hint steps \
						'play --new --yes' leave 'report --merge /dev/stdin'; do
						# shellcheck disable=SC2086
						env PACIFICA_GAME=1 "$var=$value" "$RECORDER" $verb <"$HOME/forged" >/dev/null 2>&1
					done
				done
			done
		done
		# Closed standard descriptors: the record is never opened on one.
		exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
		for close in '0<&-' '1>&-' '2>&-' '1>&- 2>&-' '0<&- 1>&- 2>&-'; do
			for verb in 'run resettle' 'run prologue' 'view -e' hint 'note hint' steps leave; do
				eval "env PACIFICA_GAME=1 \"\$RECORDER\" $verb $close"
			done
		done
		:
	EOF
	as 65534 env HOME="$home" bash "$top/try"
	sound 1
	[ "$(grep -c . "$mine")" -gt 100 ]
}

@test "the game's lines go to no descriptor the recorder holds, whatever number the player names, and reach the player" {
	local row fd uid h pids=()
	mkfifo -m 666 "$top/ready"; exec 6<>"$top/ready"
	# Numbers free as the recorder starts: 5 held the home's directory at
	# the take-over and the index later; 6 is the next.  Those of the
	# record's own are the case above.  Two players at once, so that the
	# two waits for the lock are one.
	for row in "5 65534 $home" "6 65533 $other"; do
		read -r fd uid h <<<"$row"
		mkfifo "$T/in.$fd"
		# An earlier version's journal whose game the record cannot take,
		# said as the start takes it over, holding the home's directory
		# open for a moment.
		mkdir -p "$h/.local/state/pacifica"
		printf '2026-12-01T10:00:00Z\t/x\x7fy\tbegun\n' >"$h/.local/state/pacifica/journal"; chown -R "$uid:$uid" "$h"
		# None of the test's descriptors open: the number is free in the
		# player's start.
		(cd "$h" && exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&- setpriv --reuid="$uid" --regid="$uid" --clear-groups \
			env -u XDG_STATE_HOME HOME="$h" PACIFICA_SAY="$fd" "$PACIFICA" "$h/game" <"$T/in.$fd" >"$T/out.$fd" 2>"$T/err.$fd") &
		pids+=($!)
	done
	started=${pids[*]}
	exec 7>"$T/in.5" 8>"$T/in.6"
	echo "echo >$top/ready" >&7; echo "echo >$top/ready" >&8
	{ read -r -t 30 -u 6 _ && read -r -t 30 -u 6 _; } || fail "the game shells did not answer within 30 s: $(cat "$T"/err.*)"
	# Each record's lock held by another as the player leaves.
	exec 9<"$REC/65534" 4<"$REC/65533"; flock -x 9; flock -x 4
	exec 7>&- 8>&-
	for fd in "${pids[@]}"; do wait "$fd" || :; done
	started=
	exec 9<&- 4<&- 6<&-
	for row in "5 65534" "6 65533"; do
		read -r fd uid <<<"$row"
		grep -v '^\[pacifica: \|^bash: cannot set terminal process group\|^bash: no job control' "$T/err.$fd" | same_bytes /dev/stdin \
			"pacifica: this was not recorded: $REC/$uid/record could not take it (Invalid argument); tell your teacher
pacifica: this was not recorded: the record's lock could not be taken (Resource temporarily unavailable)
" || fail "PACIFICA_SAY=$fd"
		[ "$(head -c 8 "$REC/$uid/index")" = pcfidx2 ] || fail "PACIFICA_SAY=$fd: the index holds $(head -c 40 "$REC/$uid/index" | cat -A)"
	done
	sound 0
}

@test "the environment and the arguments of a game change nothing that is recorded" {
	mkdir "$top/bin"; printf '#!/bin/sh\necho "Jean is concerned about a rekindling"\n' >"$top/bin/resettle"; chmod 755 "$top/bin/resettle"
	printf '%s\n' '#include <fcntl.h>' '#include <string.h>' '#include <unistd.h>' \
		'__attribute__((constructor)) static void fake(void) { char n[32] = ""; int fd = open("/proc/self/comm", 0); read(fd, n, 31);' \
		'if (!strncmp(n, "resettle", 8)) { write(1, "Jean is concerned about a rekindling\n", 37); _exit(0); } }' >"$top/fake.c"
	cc -shared -fPIC -o "$top/fake.so" "$top/fake.c"; chmod 755 "$top/fake.so"
	mkdir -p "$top/state"; chown 65534:65534 "$top/state"
	for env in "LD_PRELOAD=$top/fake.so" "PATH=$top/bin:/usr/bin:/bin" 'IFS=:' "TMPDIR=$top/state" "XDG_STATE_HOME=$top/state" \
		'TZ=/etc/shadow' 'LOCPATH=/nonexistent' "GCONV_PATH=$top" 'POSIXLY_CORRECT=1'; do
		find "$REC" -mindepth 1 -delete; rm -rf "$home/game"
		player "$env" -- $'prologue\nresettle\nresettle --home "$(printf x%.0s {1..5000})" $\'\\n\\t\''
		same_bytes <(events) $'begun\nprologue\tbriefing\nresettle\tliar\nresettle\tliar\nleft\n' || { echo "$env" >&2; return 1; }
		[ -z "$(ls -A "$top/state")" ]
		sound 1
	done
}

@test "a step done by writing into the judged program's output is not recorded" {
	player -- $'prologue\nmkdir Pacifica; mv Jean Pacifica/; resettle'
	# Root holds the program at its first write, as a player who stopped
	# it would have it; the player then writes the opening that would make
	# the step done into its output.
	(cd "$home/game" && exec strace -f -qq -o /dev/null -e trace=write -e inject=write:delay_enter=60000000:when=1 \
		setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" PACIFICA_GAME=1 "$RECORDER" run duplicate) \
		>"$T/out" 2>&1 &
	started=$!
	program=$(descendant $started duplicate)
	recorder=$(descendant $started pacifica-record)
	# Nothing of the recorder's or the program's keeps the group games.
	grep -x $'Gid:\t65534\t65534\t65534\t65534' "/proc/$recorder/status"
	grep -x $'Gid:\t65534\t65534\t65534\t65534' "/proc/$program/status"
	run as 65534 sh -c "printf 'URGENT INCOMING MESSAGE FROM SHELLWATCH COMMAND!\n' >/proc/$program/fd/1"
	[ "$status" != 0 ]
	run as 65534 strace -p "$program"; [ "$status" != 0 ]
	kill -KILL $started; wait $started || :; started=
	# The recorder goes on once its program does.
	for ((i = 0; i < 100; i++)); do [ -e "/proc/$recorder" ] || break; sleep 0.05; done
	[ ! -e "/proc/$recorder" ] || { echo "the recorder did not end" >&2; return 1; }
	grep -q '^Jean is very worried' "$T/out"
	same_bytes <(events | tail -n 1) $'duplicate\tscared\n'
	sound 2
}

# damage|the file|what the one line says is wrong|how a teacher mends it,
# as the line gives it: the record, or the player's directory, not as the
# recorder leaves it.
plants=(
	'chmod 0600 "$mine"|65534/record|mode 0600, not 0640|chmod 0640 REC/65534/record'
	'chgrp root "$mine"|65534/record|group 0, not games|chgrp games REC/65534/record'
	'chown 65533 "$mine"|65534/record|owner 65533, not 65534|chown 65534 REC/65534/record'
	'ln "$mine" "$REC/65534/x"|65534/record|2 names, not one|sh -c '\''cp -p REC/65534/record REC/65534/record.new && mv REC/65534/record.new REC/65534/record'\'''
	'mv "$mine" "$T/r"; mkfifo "$mine"; chown 65534:games "$mine"; chmod 640 "$mine"|65534/record|not a regular file|mv REC/65534/record REC/65534/record.bad'
	'mv "$mine" "$T/r"; ln -s "$T/r" "$mine"|65534/record|not a regular file|mv REC/65534/record REC/65534/record.bad'
	'chmod 02750 "$REC/65534"|65534|mode 2750, not 2770|chmod 2770 REC/65534'
	'chown 65533 "$REC/65534"|65534|owner 65533, not 65534|chown 65534 REC/65534'
	'chgrp root "$REC/65534"|65534|group 0, not games|chgrp games REC/65534'
	'cp -p "$mine" "$REC/65534/record.1"; chmod 0600 "$REC/65534/record.1"|65534/record.1|mode 0600, not 0640|chmod 0640 REC/65534/record.1'
)

@test "a record not as the recorder left it is refused with its fix, and no game is kept elsewhere" {
	for plant in "${plants[@]}"; do
		IFS='|' read -r damage path what fix <<<"$plant"
		find "$REC" -mindepth 1 -delete; rm -rf "$home/game"
		player -- prologue
		eval "$damage"
		player -- steps
		[ "$status" = 1 ] && [ ! -s "$T/out" ] || { echo "'$damage' was played: $(cat "$T/out" "$T/err")" >&2; return 1; }
		same_bytes "$T/err" "pacifica: the class record $REC/$path is not as the recorder left it ($what); a teacher can mend it: sudo ${fix//REC/$REC}"$'\n'
		[ ! -e "$home/.local" ]
		# The fix, as the line gives it, mends it.
		eval "${fix//REC/$REC}"
		[ ! -e "$T/r" ] || { rm -f "$mine"; mv "$T/r" "$mine"; }
		rm -f "$REC/65534/x" "$REC/65534/record.bad" "$REC/65534/record.1"
		player -- steps
		[ "$status" = 0 ] || { echo "the fix for '$damage' did not mend it: $(cat "$T/err")" >&2; return 1; }
		sound 1
	done
}

@test "a class record's directory that others may enter or that is not root's is refused" {
	for bad in 'chmod 2775 "$REC"' 'chmod 2771 "$REC"' 'chown 65534 "$REC"' 'chgrp root "$REC"'; do
		eval "$bad"
		player -- prologue
		same_bytes "$T/err" "pacifica: the class record $REC is not as the recorder left it (its owner, group or mode); a teacher can mend it: sudo chown root:games $REC && sudo chmod 2770 $REC"$'\n' ||
			{ echo "'$bad'" >&2; chown root:games "$REC"; chmod 2770 "$REC"; return 1; }
		[ "$status" = 1 ]; [ ! -e "$REC/65534" ]; [ ! -e "$home/game/Jean" ]
		chown root:games "$REC"; chmod 2770 "$REC"; rm -rf "$home/game"
	done
}

@test "a recorder without its group, while the class record is there, says so and how to mend it" {
	chmod 0755 "$RECORDER"
	player -- prologue
	chown root:games "$RECORDER"; chmod 2755 "$RECORDER"
	[ "$status" = 1 ]
	same_bytes "$T/err" "pacifica: the recorder $RECORDER is not set-group-id games, so the class record $REC cannot be written; a teacher can mend it: sudo chown root:games $RECORDER && sudo chmod 2755 $RECORDER"$'\n'
	[ ! -e "$home/game/Jean" ]; [ ! -e "$home/.local" ]
}

@test "a system that lets the owner trace what changed its privilege is no class record's" {
	player -- prologue
	sum=$(md5sum <"$mine")
	# fs.suid_dumpable as such a system has it, in a mount namespace of
	# the case's own: the kernel's own setting is every suite's.
	echo 1 >"$T/one"
	traced() {
		local dir=$1; shift
		status=0
		(cd "$dir" && exec unshare --mount --propagation private sh -c \
			'mount --bind "$0" /proc/sys/fs/suid_dumpable && exec setpriv --reuid=65534 --regid=65534 --clear-groups env "$@"' \
			"$T/one" HOME="$home" "$@") >"$T/out" 2>"$T/err" || status=$?
	}
	said="pacifica: the system lets players trace the programs that judge their runs (fs.suid_dumpable is 1), so the class record cannot witness them; a teacher can mend it: sudo sysctl fs.suid_dumpable=0"
	# rows: where the player plays|what they type|status|a line of what it prints, or -
	while IFS='|' read -r dir how want line; do
		read -ra argv <<<"$how"
		traced "$dir" "${argv[@]}" <<<prologue
		[ "$status" = "$want" ] && grep -qxF "$said" "$T/err" || fail "$how: status $status: $(cat "$T/out" "$T/err")"
		[ "$line" = - ] && [ ! -s "$T/out" ] || grep -qxF "$line" "$T/out" || fail "$how: $(cat "$T/out")"
		[ "$(md5sum <"$mine")" = "$sum" ] || fail "$how was recorded"
	done <<-EOF
		$home|$PACIFICA $home/game|1|-
		$home/game|PACIFICA_GAME=1 $RECORDER run resettle|1|Liar! Jean is not home!
		$home/game|PACIFICA_GAME=1 $RECORDER note hint|0|-
	EOF
	sound 1
}

@test "a write the file cannot take is cut back and said; a record held by another waits, then says so" {
	player -- $'prologue\nprologue\nprologue\nprologue'
	[ "$(stat -c %s "$mine")" -gt 1024 ]
	sum=$(md5sum <"$mine")
	# A size limit smaller than the record: no game starts, and no event
	# is kept, each said.
	(ulimit -f 1; player -- steps; exit $status) || status=$?
	[ "$status" = 1 ]; [ ! -s "$T/out" ]
	same_bytes "$T/err" "pacifica: this was not recorded: $mine could not take it (File too large); tell your teacher"$'\n'
	[ "$(md5sum <"$mine")" = "$sum" ]
	(ulimit -f 1; recorder -- run resettle)
	grep -qxF 'Liar! Jean is not home!' "$T/out"
	grep -qxF "pacifica: this was not recorded: $mine could not take it (File too large); tell your teacher" "$T/err"
	[ "$(md5sum <"$mine")" = "$sum" ]
	# A shared lock held by another process is no lock for the recorder.
	exec 9<"$REC/65534"; flock -s 9
	recorder -- note hint
	exec 9<&-
	grep -qxF 'pacifica: this was not recorded: the record'\''s lock could not be taken (Resource temporarily unavailable)' "$T/err"
	[ "$(md5sum <"$mine")" = "$sum" ]
	sound 1
}

@test "a full file system: a line cut short is cut back, and said" {
	# A small file system of its own for the class record, in a mount
	# namespace of the test's.
	cat >"$T/full" <<-'EOF'
		set -eu
		mount -t tmpfs -o size=64k,mode=2770,gid=60 full "$REC"
		rec() { (cd "$home/game" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" PACIFICA_GAME=1 "$RECORDER" "$@"); }
		(cd "$home" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" "$PACIFICA" "$home/game" </dev/null) >/dev/null
		# The record just short of a page's end, the rest of the file system
		# full: the next line is written in part, then refused.
		size() { stat -c %s "$mine"; }
		before=$(size); rec note hint; line=$(($(size) - before))
		while [ $(($(size) % 4096 + line)) -lt 4096 ]; do rec note hint; done
		head -c 1M /dev/zero >"$REC/filler" 2>/dev/null || :
		sum=$(md5sum <"$mine")
		rec note hint 2>"$T/err" || :
		grep -qxF "pacifica: this was not recorded: $mine could not take it (No space left on device); tell your teacher" "$T/err"
		[ "$(md5sum <"$mine")" = "$sum" ]
		rm "$REC/filler"
		rec note hint
		[ "$(md5sum <"$mine")" != "$sum" ]
		cp -a "$REC/65534" "$T/kept"
	EOF
	unshare --mount --propagation private env REC="$REC" home="$home" mine="$mine" T="$T" RECORDER="$RECORDER" \
		PACIFICA="$PACIFICA" bash "$T/full"
	find "$REC" -mindepth 1 -delete; cp -a "$T/kept" "$REC/65534"
	sound 0
}

@test "a last line cut short is ended before the next, which stands whole" {
	player -- prologue
	printf '2026-12-09T10:00:00Z\t1\t%s\tresettle\thome\ton=duplicate' "$home/game" >>"$mine"
	player -- 'mkdir Pacifica; mv Jean Pacifica/; resettle'
	same_bytes <(events) $'begun\nprologue\tbriefing\nleft\nresettle\thome\nresumed\nresettle\thome\nleft\n'
	# The torn line is the one that is not the recorder's.
	[ "$(grep -Evc -- "$line_re" "$mine")" = 1 ]
	grep -Ev -- "$line_re" "$mine" | grep -q $'\ton=duplicate$'
	# The report reads each game's latest line, which stands whole.
	steps 2
}

@test "two starts at once make one game; two bridges at once, one bridge" {
	# Both wait on a line of the same pipe, and start as they get it.
	mkfifo "$T/go"; exec 7<>"$T/go"
	for ((i = 0; i < 30; i++)); do
		for new in '' '--new --yes'; do
			for n in 1 2; do
				(read -r _ <"$T/go"; cd "$home" && exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" \
					"$PACIFICA" $new "$home/g$i" </dev/null >/dev/null 2>"$T/said.$i.$n${new:+.new}") &
			done
			printf '\n\n' >&7
			wait
		done
	done
	exec 7>&-
	"$PACIFICA" --report --csv >"$T/report"
	# Each directory is the place of one game, its latest state.
	[ -z "$(cut -d, -f2 "$T/report" | sort | uniq -d)" ] || { sort -t, -k2 "$T/report" >&2; return 1; }
	# What a start that made no game said is in the failure.
	[ "$(grep -c $'\tbegun\t' "$mine")" = 90 ] || { grep . "$T"/said.* >&2; cut -f 3,4 "$mine" >&2; return 1; }
	player -- $'prologue\nmkdir Pacifica; mv Jean Pacifica/; resettle\nmkdir Pacifica_Copy; cp Pacifica/Jean Pacifica_Copy/; duplicate'
	number=$(tail -n 1 "$mine" | cut -f 2)
	for ((i = 0; i < 30; i++)); do
		rm -rf "$home/game/yklim_yaw"
		for n in 1 2; do
			(cd "$home/game" && exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" PACIFICA_GAME="$number" \
				"$RECORDER" bridge towards) >/dev/null 2>&1 &
		done
		wait
	done
	[ "$(grep -c $'\tbridge\t' "$mine")" = 1 ]
	class_sound
}

@test "a teacher's report holds no group while it reads; a record not as the recorder left it is named by login" {
	conf=$CLASS/prefix/etc/pacifica.conf; cp "$conf" "$T/conf"; printf 'teachers = users\n' >"$conf"
	player -- prologue
	# Enough players that the report's table fills a pipe that nobody
	# reads, where the report then waits, holding its records.
	# Laid by one awk and a chown a player, out of bats' reach.
	(trap - DEBUG
	 mkdir -m 2770 "$REC"/{20000..21499}
	 forged_line | awk -v rec="$REC" -v home="$home/game" '{
		for (u = 20000; u < 21500; u++) {
			l = $0; sub(home, "/home/s" u "/pacifica", l); sub("forged", "retribute", l)
			print l >(rec "/" u "/record"); close(rec "/" u "/record")
		}
	 }'
	 chmod 640 "$REC"/2????/record
	 chgrp -R games "$REC"/2????
	 chown -R 65533 "$REC/20000"
	 for ((u = 20001; u < 21500; u++)); do chown -R "$u" "$REC/$u"; done)
	chmod 600 "$REC/20001/record"
	mkfifo "$T/table"; exec 8<>"$T/table"
	(exec setpriv --reuid=65533 --regid=65533 --groups=users env HOME="$other" "$PACIFICA" --report >"$T/table" 2>"$T/err") &
	started=$!
	for ((i = 0; i < 200; i++)); do [[ "$(cat /proc/$started/wchan 2>/dev/null)" != *pipe_write ]] || break; sleep 0.05; done
	[[ "$(cat /proc/$started/wchan)" == *pipe_write ]] || { echo "the report did not fill the pipe" >&2; return 1; }
	grep -x $'Gid:\t65533\t65533\t65533\t65533' "/proc/$started/status"
	grep -x $'Groups:\t100 ' "/proc/$started/status"
	cat "$T/table" >"$T/out" 8>&- & drain=$!
	exec 8>&-
	status=0; wait $started || status=$?; started=
	wait $drain
	cp "$T/conf" "$conf"
	[ "$status" = 1 ]
	grep -qxF "pacifica: the class record of user 20000 could not be read: $REC/20000 is not as the recorder left it (owner 65533, not 20000)" "$T/err"
	grep -qxF "pacifica: the class record of user 20001 could not be read: $REC/20001/record is not as the recorder left it (mode 0600, not 0640)" "$T/err"
	grep -q "^nobody *$home/game *1/7 resettle " "$T/out"
	[ "$(grep -c '/home/s2' "$T/out")" = 1498 ]
	grep -q '^1499 players, 1499 games, 1498 finished\.$' "$T/out" || { grep -v '/home/s2' "$T/out" >&2; return 1; }
}

@test "a teacher, of the group the settings name, reports the whole class; anyone else, their own games" {
	player -- prologue
	conf=$CLASS/prefix/etc/pacifica.conf; cp "$conf" "$T/conf"
	teacher() { (cd "$top" && setpriv --reuid=65533 --regid=65533 --groups="$1" env HOME="$other" "$PACIFICA" --report) >"$T/out" 2>"$T/err"; }
	for setting in 'teachers = users|users|1 player' 'teachers = users|65533|0 players' 'teachers = nogroup|users|0 players' '|users|0 players'; do
		IFS='|' read -r line groups want <<<"$setting"
		printf '%s\n' "$line" >"$conf"; teacher "$groups"
		grep -q "^$want, " "$T/out" || { echo "$setting: $(cat "$T/out" "$T/err")" >&2; cp "$T/conf" "$conf"; return 1; }
	done
	chmod g+w "$conf"; printf 'teachers = users\n' >"$conf"; teacher users; cp "$T/conf" "$conf"; chmod 644 "$conf"
	grep -q '^0 players, ' "$T/out"
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" --report --csv) >"$T/out"
	[ "$(wc -l <"$T/out")" = 2 ]; grep -q "^nobody,$home/game,1,7,resettle," "$T/out"
}

@test "a program killed as it runs, or the recorder with it, leaves the record whole" {
	cp -p "$LIBEXEC/raze" "$T/raze"
	printf '#!/bin/sh\nexec sleep 30\n' >"$LIBEXEC/raze"; chmod 755 "$LIBEXEC/raze"
	for victim in sleep pacifica-record; do
		find "$REC" -mindepth 1 -delete; rm -rf "$home/game"; rm -f "$T/in"; mkfifo "$T/in"
		(cd "$home" && exec setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_STATE_HOME HOME="$home" \
			"$PACIFICA" "$home/game" <"$T/in" >"$T/out" 2>&1) &
		started=$!
		exec 7>"$T/in"
		echo 'raze; echo "status $?"' >&7
		program=$(descendant $started sleep)
		kill -KILL "$(if [ $victim = sleep ]; then echo "$program"; else descendant $started pacifica-record | tail -n 1; fi)"
		[ $victim = sleep ] || kill -KILL "$program"
		echo 'prologue' >&7; exec 7>&-; wait $started || :; started=
		grep -qx 'status 137' "$T/out"
		same_bytes <(events) $'begun\nprologue\tbriefing\nleft\n'
		class_sound
	done
	cp -p "$T/raze" "$LIBEXEC/raze"
}

@test "a record near its bound carries on in a new generation that begins with each game's latest line" {
	player -- prologue
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" --new --yes "$home/game" </dev/null) >/dev/null 2>&1
	# The second game's latest line again and again, until the next line
	# would take the record past its bound.
	line=$(tail -n 1 "$mine")
	n=$(((4 * 1024 * 1024 - $(stat -c %s "$mine")) / (${#line} + 1)))
	{ cat "$mine"; yes "$line" | head -n "$n"; } >"$T/big"
	cat "$T/big" >"$mine"
	[ "$(stat -c %s "$mine")" -gt $((4 * 1024 * 1024 - 400)) ]
	player -- $'prologue\nsteps'
	cmp "$T/big" "$REC/65534/record.1"
	[ "$(stat -c %s "$mine")" -lt 4096 ]
	# Both games' latest lines, then this session's.
	same_bytes <(cut -f 3,4 "$mine") "$home/game.1"$'\taside\n'"$home/game"$'\tleft\n'"$home/game"$'\tresumed\n'"$home/game"$'\tprologue\n'"$home/game"$'\tleft\n'
	grep -qx '  > resettle    Jean must be home, in a directory called Pacifica' "$T/out"
	steps 1
	[ "$(awk -F, -v d="$home/game.1" '$2 == d { print $3 }' "$T/report")" = 1 ]
	class_sound
}

@test "an index damaged, or not as the recorder left it, finds the same games as none, and the next line mends it" {
	player -- prologue
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" --new --yes "$home/game" </dev/null) >/dev/null 2>&1
	index=$REC/65534/index
	cp -p "$mine" "$T/saved"; cp -p "$index" "$T/saved.index"; mtime=$(stat -c %.9Y "$mine")
	# outcome NAME: game 1 found by its number, the class for root's
	# report, game 2 by its directory at a start.
	outcome() {
		recorder -- steps; cat "$T/out" "$T/err" >"$T/$1"
		"$PACIFICA" --report --csv | cut -d , -f 1-7 >>"$T/$1"
		player -- steps; cat "$T/out" "$T/err" >>"$T/$1"
		cut -f 2-5 "$mine" >>"$T/$1"
	}
	for row in 'as the recorder left it|:' \
		'another game'"'"'s line|dd if="$index" of="$index" bs=1 skip=$(slot "$index" 2) seek=$(slot "$index" 1) count=16 conv=notrunc status=none' \
		"another game's directory|retable \"\$index\"" "a directory's entry lost|retable \"\$index\" lost" 'truncated|truncate -s 300 "$index"' \
		'of mode 0600|chmod 600 "$index"' 'a link to a copy|mv "$index" "$T/copy"; ln -s "$T/copy" "$index"'; do
		for with in index none; do
			cat "$T/saved" >"$mine"; touch -d "@$mtime" "$mine"
			rm -f "$index"; cp -p "$T/saved.index" "$index"
			eval "${row#*|}"
			[ "$with" = index ] || rm -f "$index"
			outcome "$with"
			# Whatever it found, the index is the recorder's again.
			[ -f "$index" ] && [ ! -L "$index" ] || { echo "no index after: ${row%%|*}" >&2; return 1; }
			class_sound
		done
		cmp "$T/index" "$T/none" || { echo "an index ${row%%|*}:"; diff "$T/index" "$T/none"; return 1; } >&2
	done
	grep -q "^nobody,$home/game.1,1,7,resettle," "$T/none"; grep -qx "Welcome back to Pacifica.  Your game is in $home/game, as you left it." "$T/none"
}

@test "a record of version 1.1, a file named by the user ID, is taken over with its games" {
	printf '2026-12-08T10:00:00Z\t1\t%s\tbegun\t-\ton=prologue began=1796724000 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1\t.\n' "$home/game" >"$REC/65534"
	printf '2026-12-08T10:00:05Z\t1\t%s\tprologue\tbriefing\ton=resettle began=1796724000 done=5,,,,,, last=prologue:briefing runs=0 hints=0 active=5 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1\t.\n' "$home/game" >>"$REC/65534"
	chown 65534:games "$REC/65534"; chmod 600 "$REC/65534"
	"$PACIFICA" --report | grep -q "^nobody *$home/game *1/7 resettle "
	# One not as 1.1 left it is refused, and left as it is.
	cp -p "$REC/65534" "$T/kept"
	for bad in 'chown 65533 "$REC/65534"|owner 65533, not 65534|chown 65534' 'ln "$REC/65534" "$REC/x"|2 names, not one|'; do
		IFS='|' read -r damage what fix <<<"$bad"
		eval "$damage"; sum=$(md5sum <"$REC/65534")
		player -- steps
		[ "$status" = 1 ]; grep -qF "pacifica: the class record $REC/65534 is not as the recorder left it ($what)" "$T/err"
		[ "$(md5sum <"$REC/65534")" = "$sum" ]; [ ! -e "$REC/65534.old" ]
		rm -f "$REC/x" "$REC/65534"; cp -p "$T/kept" "$REC/65534"
	done
	mkdir "$home/game"; printf %s "$jean" >"$home/game/Jean"; chown -R 65534:65534 "$home/game"
	player -- 'mkdir Pacifica; mv Jean Pacifica/; resettle'
	grep -qx '1 of 7 steps done.' "$T/out"
	[ ! -e "$REC/65534.old" ]
	same_bytes <(events) $'begun\nprologue\tbriefing\nresumed\nresettle\thome\nleft\n'
	sound 2
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
	class_sound
}

@test "a journal is taken over only into a record still empty, as another start of the player's begins a game meanwhile" {
	# A start from a home whose journal holds a game, held at the record's
	# lock once it has found the record empty; another start, from a home
	# without one, begins a game of the class record's meanwhile.
	state=$other/.local/state/pacifica; mkdir -p "$state"; chown 65534:65534 "$other"
	printf '2026-12-01T10:00:00Z	%s	begun
2026-12-01T10:01:00Z	%s	prologue	briefing
' "$other/old" "$other/old" >"$state/journal"
	chown -R 65534:65534 "$other"
	mkdir -p "$REC/65534"; chown 65534:games "$REC/65534"; chmod 2770 "$REC/65534"
	exec 9<"$REC/65534"; flock -x 9
	(cd "$other" && exec 9<&- setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$other" "$PACIFICA" "$other/game" </dev/null) \
		>"$T/other.out" 2>&1 &
	started=$!
	for ((i = 0; i < 200; i++)); do [[ "$(cat /proc/$started/wchan 2>/dev/null)" != *nanosleep ]] || break; sleep 0.05; done
	[[ "$(cat /proc/$started/wchan)" == *nanosleep ]] || fail "the start did not wait for the lock: $(cat "$T/other.out")"
	kill -STOP $started
	exec 9<&-
	player -- prologue
	kill -CONT $started; wait $started || :; started=
	# The game of the class record's stays the record's first; the journal,
	# not taken, stays where it was.
	same_bytes <(cut -f 2-4 "$mine") $'1\t'"$home/game"$'\tbegun\n1\t'"$home/game"$'\tprologue\n1\t'"$home/game"$'\tleft\n2\t'"$other/game"$'\tbegun\n2\t'"$other/game"$'\tleft\n' ||
		fail "$(cat "$T/other.out")"
	[ -s "$state/journal" ]
	sound 1
}

@test "the walkthrough keeps a record of its own and writes nothing to the class record" {
	(cd "$home" && as 65534 env HOME="$home" TMPDIR="$home" "$PACIFICA" --walkthrough) >"$T/out"
	tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'
	[ ! -e "$REC/65534" ]; [ -z "$(ls -A "$home")" ]
}

@test "a seeded fuzz of the recorder's verbs, environment, descriptors and limits forges nothing" {
	player -- prologue
	forged_line >"$home/forged"; chown 65534:65534 "$home/forged"
	cat >"$top/fuzz" <<-'EOF'
		RANDOM=2026
		cd "$HOME/game" || exit 1
		verbs=(run play view note hint steps leave bridge help report bogus '')
		args=(prologue resettle duplicate raze celebrate retribute hint begun -e last towards --new --yes --csv
			--merge "$HOME/forged" /dev/stdin --class --roster -- "$HOME" '$(id)' $'\n' "$(printf 'x%.0s' {1..300})")
		vars=(PACIFICA_SAY PACIFICA_SESSION PACIFICA_GAME PACIFICA_RECORD_DIR PACIFICA_HINTS PACIFICA_KEPT_TZ
			HOME XDG_STATE_HOME PATH TZ LANG COLUMNS)
		values=(0 1 2 3 4 5 6 7 8 9 10 -1 99999999999999999999 "$HOME/forged" "$HOME" / '' x off)
		for ((run = 0; run < 2000; run++)); do
			cmd=("$RECORDER" "${verbs[RANDOM % ${#verbs[@]}]}")
			for ((a = RANDOM % 4; a > 0; a--)); do cmd+=("${args[RANDOM % ${#args[@]}]}"); done
			env=()
			for ((v = RANDOM % 5; v > 0; v--)); do env+=("${vars[RANDOM % ${#vars[@]}]}=${values[RANDOM % ${#values[@]}]}"); done
			fd=$((3 + RANDOM % 7)) limit=$((RANDOM % 4))
			(
				eval "exec $fd<>\"\$HOME/forged\""
				case $limit in 1) ulimit -f $((RANDOM % 8)) ;; 2) ulimit -n $((16 + RANDOM % 8)) ;; esac
				exec <"$HOME/forged"
				[ ${#env[@]} = 0 ] || export "${env[@]}"
				exec "${cmd[@]}"
			) >/dev/null 2>&1 &
			pid=$!
			# Never more than a few seconds a run: a run that waits on a
			# terminal or a lock is ended.
			( sleep 5; kill -KILL $pid 2>/dev/null ) & watch=$!
			wait $pid; kill $watch 2>/dev/null; wait $watch 2>/dev/null
		done
		:
	EOF
	# Not the suite's own descriptors, which PACIFICA_SAY may name.
	as 65534 env HOME="$home" PACIFICA_GAME=1 bash "$top/fuzz" 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
	# Whatever the fuzz ran, the game in ~/game has done its prologue and
	# no more: nothing made Jean home.
	sound 1
}

@test "a new term: a teacher clears the class record, and a student whose game is still there is told what to type" {
	player -- prologue
	(cd "$other" && as 65533 env HOME="$other" "$PACIFICA" "$other/game" <<<prologue) >/dev/null 2>&1
	conf=$CLASS/prefix/etc/pacifica.conf; cp "$conf" "$T/conf"; printf 'teachers = users\n' >"$conf"
	clear() { status=0; (cd "$top" && "$@") >"$T/out" 2>"$T/err" </dev/null || status=$?; }
	# rows: who|arguments|status|what is said
	while IFS='|' read -r who args want said; do
		read -ra argv <<<"$args"; read -ra as_who <<<"$who"
		clear "${as_who[@]}" "$PACIFICA" --report "${argv[@]}"
		[ "$status" = "$want" ] || { cp "$T/conf" "$conf"; fail "$who $args: status $status: $(cat "$T/err")"; }
		grep -qxF "pacifica: $said" "$T/err" || { cp "$T/conf" "$conf"; fail "$who $args: $(cat "$T/out" "$T/err")"; }
		[ -s "$mine" ]
	done <<-EOF
		setpriv --reuid=65534 --regid=65534 --clear-groups|--clear --yes|1|only root and the teachers of the group users may clear the class record
		setpriv --reuid=65533 --regid=65533 --groups=users|--clear|1|the class record is cleared only when asked: add --yes
		env|--clear --yes --csv|2|--clear goes alone, or with --yes
	EOF
	clear setpriv --reuid=65533 --regid=65533 --groups=users "$PACIFICA" --report --clear --yes
	cp "$T/conf" "$conf"
	[ "$status" = 0 ] && [ ! -s "$T/err" ] || fail "$(cat "$T/err")"
	same_bytes "$T/out" "Removed the records of 2 players from $REC.
At their next start, a student whose playing directory still holds a game
is told to type 'pacifica --new', which sets it aside, deleting nothing, and
begins a new game; anyone else begins a new game as at the first."$'\n'
	[ -z "$(ls -A "$REC")" ]
	player -- steps
	[ "$status" = 1 ]
	same_bytes "$T/err" "pacifica: $home/game holds a game that the record does not know; 'pacifica --new $home/game' sets it aside as $home/game.1, deleting nothing, and begins a new one"$'\n'
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" --new --yes "$home/game" </dev/null) >"$T/out" 2>&1
	[ -f "$home/game.1/Jean" ]; [ -z "$(ls -A "$home/game")" ]
	sound 0
}

@test "a run whose record became the previous generation while its program ran writes to the current one" {
	player -- prologue
	line=$(tail -n 1 "$mine")
	n=$(((4 * 1024 * 1024 - $(stat -c %s "$mine")) / (${#line} + 1)))
	yes "$line" | head -n "$n" >>"$mine"
	# A raze that says it has begun, then waits for the test's word.
	cp -p "$LIBEXEC/raze" "$T/raze"
	mkfifo -m 666 "$top/begun" "$top/go"
	printf '#!/bin/sh\necho >%s\nread -r _ <%s\necho Nothing happens.\n' "$top/begun" "$top/go" >"$LIBEXEC/raze"
	chmod 755 "$LIBEXEC/raze"
	exec 6<>"$top/begun"
	(cd "$home/game" && exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" PACIFICA_GAME=1 \
		"$RECORDER" run raze) >"$T/raze.out" 2>&1 &
	started=$!
	read -r -t 30 -u 6 _ || { cp -p "$T/raze" "$LIBEXEC/raze"; fail "raze did not begin"; }
	# Another shell's hint begins the next generation meanwhile.
	recorder -- note hint
	[ -e "$REC/65534/record.1" ] || { cp -p "$T/raze" "$LIBEXEC/raze"; fail "no new generation began"; }
	echo >"$top/go"
	wait $started; started=
	exec 6<&-
	cp -p "$T/raze" "$LIBEXEC/raze"
	same_bytes <(cut -f 4 "$mine" | tail -n 2) $'hint\nraze\n'
	[ "$(tail -n 1 "$REC/65534/record.1" | cut -f 4)" = prologue ] || [ "$(tail -n 1 "$REC/65534/record.1" | cut -f 4)" = left ]
	class_sound
}

@test "the recorder run by another name of its file, beside programs of the player's, keeps nothing" {
	player -- prologue
	sum=$(md5sum <"$mine")
	# A hard link of the recorder's in a directory of the player's, as a
	# student lays one where the system lets them link a file of root's
	# (fs.protected_hardlinks off); root lays it here.  Beside it, programs
	# of the player's that say every step is done.
	mkdir -p "$home/x/libexec/pacifica" "$home/x/etc"
	ln "$RECORDER" "$home/x/libexec/pacifica-record"
	for p in prologue resettle duplicate raze celebrate retribute; do
		printf '#!/bin/sh\necho "Jean is concerned about a rekindling"\n' >"$home/x/libexec/pacifica/$p"
	done
	printf 'teachers = nogroup\n' >"$home/x/etc/pacifica.conf"
	chmod 755 "$home/x/libexec/pacifica"/*; chown -R 65534:65534 "$home/x/libexec/pacifica" "$home/x/etc"
	said="pacifica: the class record is written only by $RECORDER, not by $home/x/libexec/pacifica-record"
	# rows: the shell's game (- for none), the verb
	while read -r number verb; do
		game=()
		[ "$number" = - ] || game=("PACIFICA_GAME=$number")
		# shellcheck disable=SC2086
		(cd "$home/game" && as 65534 env HOME="$home" "${game[@]}" "$home/x/libexec/pacifica-record" $verb) \
			>"$T/out" 2>"$T/err" </dev/null || :
		grep -qxF "$said" "$T/err" || { echo "$verb: $(cat "$T/out" "$T/err")" >&2; return 1; }
		[ "$(md5sum <"$mine")" = "$sum" ] || { echo "$verb was recorded" >&2; return 1; }
	done <<-'EOF'
		1 run resettle
		1 note hint
		- play --new --yes
		- play
		- report --csv
		- report --clear --yes
	EOF
	sound 1
}

@test "a hint that the class record cannot count is not given" {
	player -- $'prologue\nprologue\nprologue\nprologue'
	sum=$(md5sum <"$mine")
	# rows: how the player keeps the record from taking the line|what the
	# recorder says of it
	while IFS='|' read -r how why; do
		status=0
		(eval "$how"; recorder -- hint; exit $status) || status=$?
		exec 9<&-
		[ "$status" = 1 ] && [ ! -s "$T/out" ] || { echo "$how: $(cat "$T/out")" >&2; return 1; }
		same_bytes "$T/err" "pacifica: this was not recorded: $why"$'\npacifica: the hint is given only once the class record can count it\n'
		[ "$(md5sum <"$mine")" = "$sum" ]
	done <<-EOF
		ulimit -f 1|$mine could not take it (File too large); tell your teacher
		exec 9<"$REC/65534"; flock -x 9|the record's lock could not be taken (Resource temporarily unavailable)
	EOF
	# Counted, it is given.
	recorder -- hint
	grep -q 'mkdir' "$T/out"; [ "$(events | grep -c '^hint')" = 1 ]
	sound 1
}

@test "a prompt that looks while another shell's run is writing the view shows that run's step at its next look" {
	player -- $'prologue\nmkdir Pacifica; mv Jean Pacifica/'
	printf '%s\n' '#include <stdio.h>' '#include <sys/syscall.h>' 'int main(void) { return printf("%d\n", SYS_pwrite64) < 0; }' |
		cc -x c -o "$T/nr" -
	pwrite=$("$T/nr")
	mkfifo -m 666 "$top/ready"; exec 6<>"$top/ready"; mkfifo "$T/in"
	(cd "$home" && exec 6<&- setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" "$PACIFICA" "$home/game" \
		<"$T/in" >"$T/out" 2>"$T/err") &
	started=$!
	exec 7>"$T/in"
	# typed: a command run, and the prompt after the one before it made.
	typed() { echo "echo >$top/ready" >&7; read -r -t 30 -u 6 _ || fail "the game shell did not answer: $(cat "$T/err")"; }
	typed
	# Another shell's event moves the view on; another's run, held by root
	# as it is about to write the view, has its new step to write.
	recorder -- note hint
	(cd "$home/game" && exec 6<&- 7>&- strace -qq -o /dev/null -P "$REC/65534/view" -e trace=pwrite64 \
		-e inject=pwrite64:delay_enter=60000000 setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home" \
		PACIFICA_GAME=1 "$RECORDER" run resettle) >"$T/run" 2>&1 &
	tracer=$!
	run_pid=$(descendant $tracer pacifica-record)
	for ((i = 0; i < 200; i++)); do
		read -r nr fd _ <"/proc/$run_pid/syscall" || :
		[ "$nr" != "$pwrite" ] || [ "$(readlink "/proc/$run_pid/fd/$((fd))")" != "$REC/65534/view" ] || break
		sleep 0.05
	done
	[ "$nr" = "$pwrite" ] || fail "the run did not come to write the view: $(cat "$T/run")"
	# The game shell looks meanwhile, and again once the run is done.
	typed; typed
	kill -KILL $tracer; wait $tracer || :
	for ((i = 0; i < 100; i++)); do [ -e "/proc/$run_pid" ] || break; sleep 0.05; done
	[ ! -e "/proc/$run_pid" ] || fail "the run did not end"
	typed
	exec 7>&-; wait $started || :; started=
	exec 6<&-
	[ "$(head -c 11 "$REC/65534/view")" = '1 duplicate' ]
	same_bytes <(grep -ao '^\[pacifica: [a-z]*\]' "$T/err" | tail -n 2) $'[pacifica: resettle]\n[pacifica: duplicate]\n'
	sound 2
}

@test "a game said to be left, while its shell plays on, counts the time played" {
	# rows: what the player's shell runs at each prompt
	while read -r prompt; do
		find "$REC" -mindepth 1 -delete; rm -rf "$home/game"
		player -- "$prompt"$'\nprologue\nsleep 1\nmkdir Pacifica; mv Jean Pacifica/; resettle'
		steps 2
		played=$(awk -F, -v d="$home/game" '$2 == d { print $9 }' "$T/report")
		[ "$played" -ge 1 ] || { echo "$prompt: $played seconds played" >&2; return 1; }
		class_sound
	done <<-'EOF'
		:
		PROMPT_COMMAND='"$PACIFICA_RECORDER" leave >/dev/null'
	EOF
}

@test "a game of a home's record, beside the class record, is shown as not witnessed" {
	player -- prologue
	# The player's own record in the home, which they may write as they
	# like: a game forged finished.
	mkdir -p "$home/.local/state/pacifica"; forged_line >"$home/.local/state/pacifica/record"; chown -R 65534:65534 "$home/.local"
	# rows: who reports|the report's arguments
	while IFS='|' read -r who args; do
		read -ra argv <<<"$args"; read -ra as_who <<<"$who"
		(cd "$top" && "${as_who[@]}" "$PACIFICA" --report "${argv[@]}") >"$T/out" 2>"$T/err" || :
		grep -q '^nobody *~/game *7/7~ finished ' "$T/out" || { echo "$who $args: $(cat "$T/out" "$T/err")" >&2; return 1; }
	done <<-EOF
		env|$home
		env|--wide $home
		setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=$home|$home
	EOF
	"$PACIFICA" --report | grep -q "^nobody *$home/game *1/7 resettle "
	sound 1
}

@test "a journal of the player's own, taken over, shows as not witnessed in the table and is named beside the gradebook" {
	# An earlier version's journal, which the player may write as they
	# like: a game forged finished, taken over at the first start.
	state=$home/.local/state/pacifica; mkdir -p "$state" "$home/fake"
	{
		printf '2026-12-01T10:00:00Z\t%s\tbegun\n' "$home/fake"
		for step in 'prologue	briefing' 'resettle	home' 'duplicate	alert' bridge 'raze	victory' 'celebrate	jailed' 'retribute	done'; do
			printf '2026-12-01T10:01:00Z\t%s\t%s\n' "$home/fake" "$step"
		done
	} >"$state/journal"
	chown -R 65534:65534 "$home"
	player -- steps
	# rows: the report's arguments|a line of what it prints|what it says
	while IFS='|' read -r args line said; do
		read -ra argv <<<"$args"
		"$PACIFICA" --report "${argv[@]}" >"$T/out" 2>"$T/err" || { cat "$T/err" >&2; return 1; }
		grep -qx -- "$line" "$T/out" || { echo "$args: $(cat "$T/out")" >&2; return 1; }
		same_bytes "$T/err" "${said:+$said$'\n'}"
	done <<-EOF
		|nobody *$home/fake *7/7~ finished .*|
		--csv --per-student|nobody,,,nobody,,7.|pacifica: the points of 1 student count steps that the recorder did not witness (~ in the table): nobody
	EOF
	class_sound
}

@test "a record that holds the most games it can begins no more, and its games stay in the report" {
	player -- prologue
	# The latest game of a record that has begun all its games, as a
	# student's start after start, or a journal of theirs taken over,
	# would leave it.
	printf '2026-12-09T10:00:00Z\t1048576\t%s\tbegun\t-\ton=prologue began=1796810400 done=,,,,,, last=- runs=0 hints=0 active=0 sessions=1 words=0 outside=0 asked=0 about=0 nudged=0 left=0 games=1048576\t.\n' "$home/last" >>"$mine"
	sum=$(md5sum <"$mine")
	status=0
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" "$home/new" <<<prologue) >"$T/out" 2>"$T/err" || status=$?
	[ "$status" = 1 ]; [ ! -s "$T/out" ]
	same_bytes "$T/err" $'pacifica: no game can begin: the record holds the most games it can, 1048576\n'
	[ "$(md5sum <"$mine")" = "$sum" ]
	"$PACIFICA" --report --csv >"$T/report"
	grep -q "^nobody,$home/last,0,7,prologue," "$T/report"
	class_sound
}

@test "a game that the record cannot set aside stays where the record has it, and no game begins beside it" {
	player -- prologue
	sum=$(md5sum <"$mine") size=$(stat -c %s "$mine") begun=$(head -n 1 "$mine" | wc -c)
	# A size limit with room for no line, or for the new game's first but
	# not for the longer line that sets the old one aside.
	for room in 0 "$begun"; do
		status=0
		(cd "$home" && as 65534 env HOME="$home" prlimit --fsize=$((size + room)) "$PACIFICA" --new --yes "$home/game" </dev/null) \
			>"$T/out" 2>"$T/err" || status=$?
		[ "$status" = 1 ] || { echo "room $room: status $status" >&2; cat "$T/out" >&2; return 1; }
		[ ! -s "$T/out" ]
		same_bytes "$T/err" "pacifica: this was not recorded: $mine could not take it (File too large); tell your teacher"$'\n'
		[ "$(md5sum <"$mine")" = "$sum" ]; [ -f "$home/game/Jean" ]; [ ! -e "$home/game.1" ]
	done
	sound 1
}

@test "a previous generation that cannot be opened is not taken for none: no game begins again where only it holds one" {
	player -- prologue
	# Game 1 only in the previous generation, game 2 in the current one.
	mv "$mine" "$REC/65534/record.1"; rm -f "$REC/65534/index"
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" "$home/other" </dev/null) >/dev/null 2>&1
	rm -r "$home/game"
	# Too few descriptors for the recorder to open the previous generation
	# or anything after it, and enough: 3 to 15 held by the player, so
	# that the 16 and more that the recorder takes still leave it short.
	for ((nofile = 16; nofile <= 32; nofile++)); do
		status=0
		(cd "$home" && for fd in {3..15}; do eval "exec $fd</dev/null"; done &&
			as 65534 env HOME="$home" prlimit --nofile=$nofile "$PACIFICA" "$home/game" </dev/null) >"$T/out" 2>"$T/err" || status=$?
		! grep -q '^Welcome to' "$T/out" || { echo "nofile $nofile began a game: $(cat "$T/out" "$T/err")" >&2; return 1; }
		[ "$status" != 0 ] || grep -qx 'Welcome back to Pacifica.  Your game is in '"$home"'/game, but the directory was deleted: it is made again, empty.  The steps done still count.' "$T/out" ||
			{ echo "nofile $nofile: status $status: $(cat "$T/out" "$T/err")" >&2; return 1; }
		# What the limit keeps the recorder from opening is said as that,
		# and not as a class record a teacher should mend.
		! grep -q 'is not as the recorder left it' "$T/err" || fail "nofile $nofile: $(cat "$T/err")"
		rm -rf "$home/game"
	done
	# Nor one whose mode keeps the recorder out.
	chmod 000 "$REC/65534/record.1"
	status=0
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" "$home/game" </dev/null) >"$T/out" 2>"$T/err" || status=$?
	chmod 640 "$REC/65534/record.1"
	[ "$status" = 1 ] && ! grep -q '^Welcome' "$T/out" || fail "status $status: $(cat "$T/out" "$T/err")"
	grep -qF "pacifica: the class record $REC/65534/record.1 is not as the recorder left it (mode 0000, not 0640)" "$T/err" || fail "$(cat "$T/err")"
	[ "$(grep -c $'\tbegun\t' "$mine")" = 1 ]
	steps 1
	class_sound
}

@test "a game is set aside under no name that the record holds a game at, its directory deleted or not" {
	player -- prologue
	# Game 1 set aside as ~/game.1, which is then deleted; game 2, set
	# aside in its turn, goes to ~/game.2.
	for gone in game.1 ''; do
		(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" --new --yes "$home/game" </dev/null) >"$T/out" 2>&1
		[ -z "$gone" ] || rm -r "${home:?}/$gone"
	done
	grep -qx "The game in $home/game is set aside in $home/game.2." "$T/out" || { cat "$T/out" >&2; return 1; }
	"$PACIFICA" --report --csv >"$T/report"
	[ -z "$(cut -d, -f2 "$T/report" | sort | uniq -d)" ] || { cat "$T/report" >&2; return 1; }
	(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" "$home/game.1" </dev/null) >"$T/out" 2>&1
	grep -qx '1 of 7 steps done.' "$T/out"
	class_sound
}

@test "a game is set aside only under a name that a start takes, so that it can be played on" {
	# rows: the length of the playing directory's name|status of --new|what it says first
	while IFS='|' read -r length want said; do
		find "$REC" -mindepth 1 -delete; rm -rf "$home/x"
		dir=$home/x
		while [ ${#dir} -lt $((length - 250)) ]; do dir+=/$(printf 'x%.0s' {1..200}); done
		dir+=/$(printf 'y%.0s' $(seq $((length - ${#dir} - 1))))
		(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" "$dir" <<<prologue) >/dev/null 2>&1
		status=0
		(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" --new --yes "$dir" </dev/null) >"$T/out" 2>&1 || status=$?
		[ "$status" = "$want" ] && [ "$(head -n 1 "$T/out")" = "${said//DIR/$dir}" ] || fail "$length: status $status: $(cat "$T/out")"
		# Wherever the game is, it is played on there.
		[ "$want" = 0 ] && aside=$dir.1 || aside=$dir
		(cd "$home" && as 65534 env HOME="$home" "$PACIFICA" "$aside" </dev/null) >"$T/out" 2>&1 || :
		grep -qx '1 of 7 steps done.' "$T/out" || fail "$length: $(cat "$T/out")"
		class_sound
	done <<-'EOF'
		2046|0|The game in DIR is set aside in DIR.1.
		2048|1|pacifica: the game in DIR cannot be set aside: its new name would be too long to be recorded
	EOF
}
