#!/usr/bin/env bats
# The launcher: new games, resuming, refusals, the game shell, its bridge.

load helpers
load texts

steps=$'The steps of the story; run each program here when you think it is done:
  prologue   begins it: Jean, a file, is a long way from home
  resettle   Jean must be home, in a directory called Pacifica
  duplicate  Jean must be backed up: a true copy in Pacifica_Copy
  (outside this game, you confirm the message that comes next with
   confirm_shellwatch_message, are caught by the Grob and escape)
  raze       the Grob stronghold you escaped from must be deleted
  celebrate  a Grob hides in the crowd; he must be put in a jail
  retribute  the jail must become an indefinite_detention_center\n'
bridge=$'Message confirmed.  The confirmation, and what comes of it, are played
outside this game; here the story goes on as if you had confirmed it, been
caught by the Grob and escaped from their stronghold.  That stronghold now
stands in your playing directory, starting at yklim_yaw.\n'
rebuilt=$'You have escaped from the Grob stronghold once already in this game;\nit is not built again.\n'
usage=$'usage: pacifica [DIR]\n       pacifica --walkthrough | --help | --version\n'

# welcome DIR COMEBACK: what a new game in DIR says before the first prompt.
welcome() {
	printf 'Welcome to Pacifica, a story played with the commands of your shell.\n'
	printf 'Your playing directory is %s.\n\n%s\n' "$1" "$steps"
	printf "'steps' shows them again; 'exit' leaves, and '%s' comes back.\n" "$2"
	printf "Type 'prologue' to begin.\n"
}
leaving() { printf "Your game is kept in %s; '%s' goes on from there.\n" "$1" "$2"; }

setup() {
	umask 022
	T=$BATS_TEST_TMPDIR
	top=$(mktemp -d -t game.XXXXXX)
	chmod 755 "$top"
	home=$top/home play=$top/play
	mkdir "$home" "$play" "$top/tmp"
	state=$home/.local/state/pacifica
}

teardown() { chmod -R u+rwx "$top"; rm -rf "$top"; }

# game [ARG...] < COMMANDS: the launcher with a home and TMPDIR of its own;
# standard output and error to files, the status in $status.
game() {
	status=0
	(cd "$top" && env -u XDG_STATE_HOME HOME="$home" TMPDIR="$top/tmp" "$BIN/pacifica" "$@") \
		>"$T/out" 2>"$T/err" || status=$?
}

# listing DIR: the entries below DIR, one a line.
listing() { (cd "$1" && find . -mindepth 1 | sort); }

@test "a new directory gets a new game, remembered" {
	game "$top/new" <<<prologue
	[ "$status" = 0 ]
	same_bytes "$T/out" "$(welcome "$top/new" "pacifica $top/new")"$'\n'"$prologue_intro$(leaving "$top/new" "pacifica $top/new")"$'\n'
	has_file "$top/new/Jean" 644 "$jean"
	same_bytes "$state/games" "$top/new"$'\n'
	[ -z "$(ls -A "$top/tmp")" ]
}

@test "an empty directory gets a new game" { game "$play" </dev/null; [ "$status" = 0 ]; head -n 1 "$T/out" | grep -qx 'Welcome to Pacifica, a story played with the commands of your shell.'; [ -z "$(ls -A "$play")" ]; }

@test "the default playing directory is ~/pacifica" {
	game </dev/null
	[ "$status" = 0 ]
	same_bytes "$T/out" "$(welcome "$home/pacifica" pacifica)"$'\n'"$(leaving "$home/pacifica" pacifica)"$'\n'
	[ -d "$home/pacifica" ]; same_bytes "$state/games" "$home/pacifica"$'\n'
}

@test "a game left in the middle resumes and goes on to the end" {
	game "$play" <<<$'prologue\nmkdir Pacifica\nmv Jean Pacifica/\nresettle\nmkdir Pacifica_Copy\nexit'
	[ "$status" = 0 ]; grep -qF 'Jean is concerned' "$T/out"
	game "$play" <<-'EOF'
		cp Pacifica/Jean Pacifica_Copy/
		duplicate
		confirm_shellwatch_message towards
		raze
		rm -r yklim_yaw
		raze
		celebrate
		mkdir jail; mv .grob jail/
		celebrate
		mv jail indefinite_detention_center
		retribute
	EOF
	[ "$status" = 0 ]
	head -n 1 "$T/out" | grep -qx "Welcome back to Pacifica.  Your game is in $play, as you left it."
	! grep -qF "Type 'prologue'" "$T/out"
	sed -n '/^URGENT/,$p' "$T/out" >"$T/story"
	same_bytes "$T/story" "$urgent_alert$bridge$raze_now$victory$openings$jailed$justice$(leaving "$play" "pacifica $play")"$'\n'
}

@test "a directory that is not empty and not a game is refused, untouched" {
	printf 'my own Jean\n' >"$play/Jean"
	listing "$play" >"$T/before"
	game "$play" <<<prologue
	[ "$status" = 1 ]; [ ! -s "$T/out" ]
	same_bytes "$T/err" "pacifica: $play is not empty and holds no game of pacifica's; give a new or empty directory"$'\n'
	listing "$play" | diff "$T/before" -; same_bytes "$play/Jean" $'my own Jean\n'
}

@test "a plain file is refused" { printf x >"$top/file"; game "$top/file" </dev/null; [ "$status" = 1 ]; [ ! -s "$T/out" ]; same_bytes "$T/err" "pacifica: $top/file is not a directory; give a new or empty one"$'\n'; same_bytes "$top/file" x; }

@test "a link leading nowhere is refused" { ln -s nowhere "$top/link"; game "$top/link" </dev/null; [ "$status" = 1 ]; same_bytes "$T/err" "pacifica: $top/link is not a directory; give a new or empty one"$'\n'; [ -L "$top/link" ]; [ ! -e "$top/nowhere" ]; }

@test "a directory the player cannot read is refused" {
	mkdir "$top/closed"; chmod 000 "$top/closed"
	[ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	status=0
	(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$home" TMPDIR="$top/tmp" "$BIN/pacifica" "$top/closed" </dev/null) >"$T/out" 2>"$T/err" || status=$?
	[ "$status" = 1 ]; same_bytes "$T/err" "pacifica: cannot read the directory $top/closed"$'\n'
}

@test "the bridge says what is in the way and remembers nothing" {
	game "$play" <<<$'printf x >yklim_yaw\nconfirm_shellwatch_message; echo "status $?"\nrm yklim_yaw\nconfirm_shellwatch_message'
	grep -qx 'status 1' "$T/out"; grep -q "^confirm_shellwatch_message: cannot create directory .*yklim_yaw.*: Not a directory$" "$T/err"
	grep -qxF "${bridge%%$'\n'*}" "$T/out"; [ -d "$play/$stronghold" ]
}

@test "the bridge builds exactly the stronghold, which raze wants gone" {
	game "$play" <<<$'confirm_shellwatch_message towards\nraze'
	sed -n '/^Message confirmed/,/^Your game is kept/p' "$T/out" | sed '$d' >"$T/story"
	same_bytes "$T/story" "$bridge$raze_now"
	same_bytes <(listing "$play") $'./yklim_yaw\n./yklim_yaw/atled_tnardauq\n./yklim_yaw/atled_tnardauq/societies\n./yklim_yaw/atled_tnardauq/societies/sevitcelloc\n./yklim_yaw/atled_tnardauq/societies/sevitcelloc/grob\n'
}

@test "the bridge does not build a stronghold again" {
	game "$play" <<<$'confirm_shellwatch_message\nconfirm_shellwatch_message\nrm -r yklim_yaw\nmkdir Pacifica\nconfirm_shellwatch_message'
	sed -n '/^Message confirmed/,/^Your game is kept/p' "$T/out" | sed '$d' >"$T/story"
	same_bytes "$T/story" "$bridge"$'The Grob stronghold you escaped from still stands in your playing\ndirectory, starting at yklim_yaw.\n'"$rebuilt"
	game "$play" <<<confirm_shellwatch_message
	grep -qxF "${rebuilt%%$'\n'*}" "$T/out"; same_bytes <(listing "$play") $'./Pacifica\n'
}

@test "steps shows the step map again" { game "$play" <<<steps; [ "$status" = 0 ]; same_bytes "$T/out" "$(welcome "$play" "pacifica $play")"$'\n'"$steps$(leaving "$play" "pacifica $play")"$'\n'; }

@test "the player's bashrc comes first; the game's prompt and PATH win" {
	printf 'greeting=hello\nPATH=/usr/bin:/bin\nPS1="$ "\ncd /\n' >"$home/.bashrc"
	game "$play" <<<$'echo "$greeting $PS1 $PWD"\nprologue'
	grep -qxF "hello [pacifica] \\w\\\$  $play" "$T/out"; [ -f "$play/Jean" ]
}

@test "--help" { game --help; [ "$status" = 0 ]; [ ! -s "$T/err" ]; head -n 2 "$T/out" | same_bytes /dev/stdin "$usage"; }
@test "--version" { game --version; [ "$status" = 0 ]; same_bytes "$T/out" "pacifica 1.0.0"$'\n'; }
@test "an unknown option" { game --bogus; [ "$status" = 2 ]; [ ! -s "$T/out" ]; same_bytes "$T/err" "pacifica: unknown option: --bogus"$'\n'"$usage"; }
@test "a stray argument" { game "$play" extra; [ "$status" = 2 ]; same_bytes "$T/err" "pacifica: unexpected argument: extra"$'\n'"$usage"; [ -z "$(ls -A "$home")" ]; }

@test "a read-only home: the game goes on without its state" {
	chmod 555 "$home"
	[ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$home" TMPDIR="$top/tmp" "$BIN/pacifica" "$play" <<<prologue) >"$T/out" 2>"$T/err"
	grep -qxF "pacifica: cannot keep the state of games in $state; playing on without it" "$T/err"
	grep -qF 'I have a friend named Jean' "$T/out"; [ -f "$play/Jean" ]
}

@test "no HOME: a named directory is played without state" {
	(cd "$top" && env -u HOME -u XDG_STATE_HOME TMPDIR="$top/tmp" "$BIN/pacifica" "$play" <<<prologue) >"$T/out" 2>"$T/err"
	grep -qxF "pacifica: HOME is not set, so no game can be remembered; playing on" "$T/err"; [ -f "$play/Jean" ]
}

@test "a link to the launcher runs the programs beside the launcher" { ln -s "$BIN/pacifica" "$top/link"; PATH=/usr/bin:/bin "$top/link" --walkthrough >"$T/out"; tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'; }
