#!/usr/bin/env bats
# The launcher: new games, resuming, refusals, the game shell and what it
# knows of the player's progress, its bridge, starting over.

load helpers
load texts
load launch

bridge=$'Message confirmed.  Shellwatch Command has found the Grob stronghold that the
story speaks of: it now stands in your playing directory, a tree of
directories starting at yklim_yaw.\n'
rebuilt=$'The alert was confirmed once already in this game; the Grob stronghold is\nnot built again.\n'
usage=$'usage: pacifica [--no-hints] [DIR]
       pacifica --new [--yes] [--no-hints] [DIR]
       pacifica --report [--wide | --csv [--per-student [--points-possible]]]
                         [--class GROUP] [--roster FILE]
                         [PLACE... | --merge CSV...]
       pacifica --report --clear [--yes]
       pacifica --walkthrough | --help | --version\n'

# welcome DIR BACK: what a new game in DIR says before the first prompt.
welcome() {
	printf 'Welcome to Pacifica, a story played with the commands of your shell.\n'
	printf 'Your playing directory is %s.\n\n%s\n' "$1" "$(steps_map 0)"
	printf "'steps' shows them again, 'hint' helps when you are stuck, 'help' lists the\n"
	printf "game's commands and 'exit' leaves; %s\nType 'prologue' to begin.\n" "$(back "$2" 'comes back later')"
}
# back COMMAND WHAT: a command that goes on with the game, as a sentence
# tells it: a word in quotes, or else on a line of its own.
back() { if [[ $1 == *' '* ]]; then printf 'this %s:\n    %s' "$2" "$1"; else printf "'%s' %s." "$1" "$2"; fi; }
leaving() { printf "Your game is kept in %s; %s\n" "$1" "$(back "$2" 'goes on from there')"; }

@test "a new directory gets a new game, in the journal" {
	game "$top/new" <<<prologue
	[ "$status" = 0 ]
	same_bytes "$T/out" "$(welcome "$top/new" "pacifica $top/new")"$'\n'"$prologue_intro$(leaving "$top/new" "pacifica $top/new")"$'\n'
	same_bytes "$T/said" $'Next: when Jean is home in Pacifica, run resettle.\n'
	has_file "$top/new/Jean" 644 "$jean"
	same_bytes <(events) "$top/new"$'\tbegun\n'"$top/new"$'\tprologue\tbriefing\n'"$top/new"$'\tleft\n'
	grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z	' "$journal"
	[ -z "$(ls -A "$top/tmp")" ]
}

@test "an empty directory gets a new game" { game "$play" </dev/null; [ "$status" = 0 ]; head -n 1 "$T/out" | grep -qx 'Welcome to Pacifica, a story played with the commands of your shell.'; [ -z "$(ls -A "$play")" ]; }

@test "the default playing directory is ~/pacifica" {
	game </dev/null
	[ "$status" = 0 ]
	same_bytes "$T/out" "$(welcome "$home/pacifica" pacifica)"$'\n'"$(leaving "$home/pacifica" pacifica)"$'\n'
	[ -d "$home/pacifica" ]; same_bytes <(events) "$home/pacifica"$'\tbegun\n'"$home/pacifica"$'\tleft\n'
}

@test "a game left in the middle resumes where it was, says what comes next and goes on to the end" {
	game "$play" <<<"$(head -n 3 <<<"$whole_game")"
	[ "$status" = 0 ]; grep -qF 'Jean is concerned' "$T/out"
	# Two hours of play in that session, so that the time the game says
	# is the record's and not how long this run takes.
	sed -i '$ s/ active=[0-9]* / active=7500 /' "$journal"
	game "$play" <<<"$(tail -n +4 <<<"$whole_game")"
	[ "$status" = 0 ]
	head -n 18 "$T/out" >"$T/welcome"
	same_bytes "$T/welcome" "Welcome back to Pacifica.  Your game is in $play, as you left it.
2 of 7 steps done.
Next: when Jean is backed up in Pacifica_Copy, run duplicate.

$(steps_map 2)
'steps' shows them again, 'hint' helps when you are stuck, 'help' lists the
game's commands and 'exit' leaves; this comes back later:
    pacifica $play
To start over, leave and type:
    pacifica --new $play"$'\n'
	sed -n '/^URGENT/,$p' "$T/out" >"$T/story"
	same_bytes "$T/story" "$urgent_alert$bridge$victory$openings$jailed$justice"$'Your finished game is kept in '"$play; this starts a new one:
    pacifica --new $play"$'\n'
	grep '^Next:' "$T/said" >"$T/next"
	same_bytes "$T/next" $'Next: find and read the alert file; confirm it with confirm_shellwatch_message.
Next: when the stronghold is deleted, run raze.
Next: run celebrate; when the Grob it hides is in a jail, run it again.
Next: when the jail is an indefinite_detention_center, run retribute.\n'
	active=$(grep $'\tretribute\tdone\t' "$journal" | sed 's/.* active=\([0-9]*\) .*/\1/')
	[ "$active" -ge 7500 ] || fail "active time $active, want 7500 and this session's"
	played=$(printf '%d h %02d min' $((active / 3600)) $((active % 3600 / 60)))
	tr '\n' ' ' <"$T/said" | grep -qF "The game is finished: all 7 steps are done, in $played of play. To play again, leave and type: "
	grep -qx "    pacifica --new $play" "$T/said"
	[ -z "$(awk 'length > 79' "$T/said")" ]
	events | cut -f 2- | sed 1d | tr '\t\n' ' ,' | grep -qx 'prologue briefing,resettle home,left,resumed,duplicate alert,bridge,raze victory,celebrate planted,celebrate jailed,retribute done,left,'
	game "$play" </dev/null
	head -n 1 "$T/out" | grep -qx "Welcome back to Pacifica.  Your game in $play is finished."
	sed -n 3,12p "$T/out" | same_bytes /dev/stdin "$(steps_map 7)"$'\n'
}

@test "the prompt names the step the player is on" {
	game "$play" <<<$'prologue\nmkdir Pacifica; mv Jean Pacifica/; resettle'
	grep -o "^\[pacifica: [a-z]*\] $play[#$] " "$T/err" | uniq | sed 's/\] .*/]/' | same_bytes /dev/stdin $'[pacifica: prologue]\n[pacifica: resettle]\n[pacifica: duplicate]\n'
}

@test "a program's bytes and status are the same in the game shell as without it, redirected or not" {
	programs=(prologue resettle duplicate raze celebrate retribute)
	for setup in ':' 'mkdir Jean' 'mkdir -p Pacifica; printf x >Pacifica/Jean' 'printf x >.grob; mkdir jail; printf y >jail/.grob' 'mkdir -p jail/.grob' 'mkdir jail'; do
		# One game shell a setup: each program in turn, in the playing
		# directory made anew, redirected and then not, between marks.
		typed= shown=
		mkdir "${programs[@]/#/$top/bare$((++n)).}"
		for program in "${programs[@]}"; do
			(cd "$top/bare$n.$program" && eval "$setup" && { s=0; "$BIN/$program" >"$T/bare.$program.out" 2>"$T/bare.$program.err" || s=$?; echo $s >"$T/bare.$program.status"; "$BIN/$program" >"$T/bare.again" 2>/dev/null || :; })
			typed+="find . -mindepth 1 -delete; $setup; $program >$T/in.$program.out 2>$T/in.$program.err; echo \$? >$T/in.$program.status; echo '@@ $program'; $program; echo; echo '@@ end'"$'\n'
			IFS= read -r -d '' again <"$T/bare.again" || :
			shown+="@@ $program"$'\n'"$again"$'\n@@ end\n'
		done
		game "$top/p$n" <<<"$typed"
		for program in "${programs[@]}"; do
			for part in out err status; do
				cmp "$T/bare.$program.$part" "$T/in.$program.$part" || fail "'$setup; $program': its $part differs in the game"
			done
		done
		sed -n '/^Type .prologue/,/^Your game/p' "$T/out" | sed '1d;$d' >"$T/in.again"
		same_bytes "$T/in.again" "$shown" || fail "with '$setup' first, the runs not redirected differ in the game"
	done
}

@test "a run outside the playing directory is not counted, and says so once, and where the game is" {
	mkdir "$top/elsewhere"
	game "$play" <<<"cd $top/elsewhere; prologue; raze; cd $play; steps"
	[ -f "$top/elsewhere/Jean" ]; [ ! -e "$play/Jean" ]
	[ "$(tr '\n' ' ' <"$T/said")" = "prologue judged the directory it ran in, $top/elsewhere, not your playing directory, so the game does not count this run. Your game is in $play; this goes there:     cd $play " ]
	[ "$(awk 'length > 79' "$T/said")" = '' ]
	same_bytes <(events | cut -f 2) $'begun\noutside\noutside\nleft\n'
	grep -qxF '  > prologue    begins it: Jean, a file, is a long way from home' "$T/out"
}

@test "a program run by hand (command, env, sh -c, its path) runs, is not judged, and is said so once" {
	game "$play" <<<$'command prologue >/dev/null\nenv resettle >/dev/null\nsh -c duplicate >/dev/null\n"$(type -P raze)" >/dev/null'
	same_bytes "$T/said" $'prologue, run that way, is not judged by the game: type prologue alone at the\nprompt to have it judged.\n'
	[ -f "$play/Jean" ]; same_bytes <(events | cut -f 2-) $'begun\nbyhand\tprologue\nleft\n'
}

@test "raze's victory counts only after the bridge built the stronghold" {
	game "$play" <<<$'raze\nsteps'
	same_bytes "$T/said" $'No stronghold has been built in this game yet, so this does not count: first\nread the alert file and confirm it with confirm_shellwatch_message.\nStuck? Type \'hint\'.\n'
	grep -qxF '    raze        the Grob stronghold must be deleted' "$T/out"
	events | cut -f 2- | sed -n 2p | grep -qx $'raze\tvictory'
}

# The commands that bring a game to the bridge.
at_bridge=$(head -n 5 <<<"$whole_game")

@test "the bridge wants the alert's 10th word" {
	while IFS='|' read -r words said; do
		rm -rf "$play"
		game "$play" <<<"$at_bridge"$'\n'"confirm_shellwatch_message $words; echo \"status \$?\""
		grep -qx 'status 1' "$T/out"; [ ! -e "$play/yklim_yaw" ]
		grep -v '^Next: ' "$T/said" | same_bytes /dev/stdin "confirm_shellwatch_message: ${said//\\n/$'\n'}"$'\n'
	done <<-'EOF'
		|give it a word: the 10th of the alert's message
		toward|"toward": not the 10th word of the alert's message
		towards again|one word only: the 10th of the alert's message
		$'\ex'|$'"\Ex"': not the 10th word of the alert's message
		abcdefghijklmnopqrstuvwxyz|"abcdefghijklmnopqrst...": not the 10th word of the\nalert's message
	EOF
	game "$play" <<<'confirm_shellwatch_message Towards'; [ -d "$play/$stronghold" ]
}

@test "the bridge builds exactly the stronghold, once a game, then says what comes next" {
	game "$play" <<<"$at_bridge"$'\nconfirm_shellwatch_message towards\nconfirm_shellwatch_message towards\nrm -r yklim_yaw\nconfirm_shellwatch_message towards\nraze'
	sed -n '/^Message confirmed/,/^Hooray/p' "$T/out" >"$T/story"
	same_bytes "$T/story" "$bridge"$'The Grob stronghold still stands in your playing directory, starting at\nyklim_yaw.\n'"$rebuilt$victory"
	grep '^Next:' "$T/said" | tail -n 2 | same_bytes /dev/stdin $'Next: when the stronghold is deleted, run raze.
Next: run celebrate; when the Grob it hides is in a jail, run it again.\n'
	[ ! -e "$play/yklim_yaw" ]
	game "$play" <<<'confirm_shellwatch_message towards'; grep -qxF "${rebuilt%%$'\n'*}" "$T/out"
}

@test "before duplicate has delivered the alert, the bridge builds nothing and counts nothing, nor does raze" {
	game "$play" <<<$'confirm_shellwatch_message towards; echo "status $?"\nprologue\nmkdir Pacifica; mv Jean Pacifica/; resettle
confirm_shellwatch_message towards; echo "status $?"\nconfirm_shellwatch_message; echo "status $?"\nraze'
	[ "$(grep -c '^status 1$' "$T/out")" = 3 ]; [ ! -e "$play/yklim_yaw" ]
	[ "$(grep -cxF 'confirm_shellwatch_message: no alert has come yet; duplicate brings it' "$T/said")" = 3 ]
	same_bytes <(events | cut -f 2-) $'begun\nprologue\tbriefing\nresettle\thome\nraze\tvictory\nleft\n'
	env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" --report --csv >"$T/csv"
	[ "$(sed -n 2p "$T/csv" | cut -d , -f 3,5)" = 2,duplicate ]
	[ "$(sed -n 2p "$T/csv" | cut -d , -f 17-19)" = ,, ]
	# Played in story order, the same word counts.
	game "$play" <<<"$(sed -n 4,5p <<<"$whole_game")"$'\nconfirm_shellwatch_message towards\nrm -r yklim_yaw; raze'
	env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" --report --csv >"$T/csv"
	[ "$(sed -n 2p "$T/csv" | cut -d , -f 3,5)" = 5,celebrate ]
}

@test "the bridge says what is in the way, and builds through no link and outside no playing directory" {
	mkdir "$top/outside"
	for blocker in 'printf x >yklim_yaw' "ln -s $top/outside yklim_yaw" "mkdir yklim_yaw; ln -s $top/outside yklim_yaw/atled_tnardauq"; do
		rm -rf "$play"; mkdir "$play"
		game "$play" <<<"$at_bridge"$'\n'"$blocker; confirm_shellwatch_message towards; echo \"status \$?\""
		grep -qx 'status 1' "$T/out"; grep -q '^confirm_shellwatch_message: yklim_yaw.* is in the way of the stronghold; move it aside$' "$T/said"
		[ -z "$(ls -A "$top/outside")" ]
	done
	rm -rf "$play"; mkdir "$play"
	game "$play" <<<"$at_bridge"$'\n'"mv $play $top/moved; confirm_shellwatch_message towards; echo \"status \$?\""
	grep -qx 'status 1' "$T/out"; grep -qxF "confirm_shellwatch_message: your playing directory $play is gone" "$T/said"
	[ ! -e "$play" ]; [ ! -e "$top/moved/yklim_yaw" ]
}

@test "a directory that is not empty and not a game is refused, and nothing is written anywhere" {
	printf 'my own Jean\n' >"$play/Jean"
	listing "$top" >"$T/before"
	game "$play" <<<prologue
	[ "$status" = 1 ]; [ ! -s "$T/out" ]
	same_bytes "$T/err" "pacifica: $play is not empty and holds no game of pacifica's; give a new or empty directory"$'\n'
	listing "$top" | diff "$T/before" -; same_bytes "$play/Jean" $'my own Jean\n'
}

@test "refusals: a plain file, a link leading nowhere, an unreadable directory" {
	printf x >"$top/file"; ln -s nowhere "$top/link"; mkdir "$top/closed"; chmod 000 "$top/closed"
	[ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	for dir in file link closed; do
		status=0
		(cd "$top" && as_player env -u XDG_STATE_HOME -u PACIFICA_GAME HOME="$home" "$PACIFICA" "$top/$dir" </dev/null) >"$T/out" 2>"$T/err" || status=$?
		[ "$status" = 1 ]; [ ! -s "$T/out" ]; [ ! -e "$home/.local" ]
		case $dir in
		closed) same_bytes "$T/err" "pacifica: cannot read the directory $top/closed"$'\n' ;;
		*) same_bytes "$T/err" "pacifica: $top/$dir is not a directory; give a new or empty one"$'\n' ;;
		esac
	done
	same_bytes "$top/file" x; [ ! -e "$top/nowhere" ]
}

@test "steps and help in the game, whose commands are aliases and whose only function not its own is the handler" {
	game "$play" <<<$'steps\nhelp\nhelp cd\ndeclare -F | grep -v " pacifica_\\|-fx" | tr "\\n" " "; alias | cut -d= -f1 | tr "\\n" " "; echo'
	sed -n '/^Type .prologue/,/^Your game/p' "$T/out" | sed '1d;$d' >"$T/shown"
	head -n 9 "$T/shown" | same_bytes /dev/stdin "$(steps_map 0)"$'\n'
	sed -n 10,18p "$T/shown" | same_bytes /dev/stdin $'The game\'s own commands:
  steps                            the steps of the story, and where you are
  hint                             a hint for where you are; again for more
  help                             this list; help NAME gives bash\'s help
  confirm_shellwatch_message WORD  confirms the alert, as it asks
  exit                             leaves the game; pacifica comes back to it
  Ctrl-C                           cancels a line, even one a quote left open
The programs prologue, resettle, duplicate, raze, celebrate and retribute
each judge the directory they run in.\n'
	sed -n 19p "$T/shown" | grep -q '^cd: cd '
	tail -n 1 "$T/shown" | grep -qx 'declare -f command_not_found_handle alias celebrate alias confirm_shellwatch_message alias duplicate alias help alias hint alias prologue alias raze alias resettle alias retribute alias steps '
}

@test "the player's bashrc comes first; the game's prompt, PATH and commands win" {
	printf 'greeting=hello\nPATH=/usr/bin:/bin\nPS1="$ "\ncd /\nsteps() { echo mine; }\nalias hint=ls\n' >"$home/.bashrc"
	game "$play" <<<$'echo "$greeting $PS1 $PWD ${PATH%%:*}"\nprologue\ntype -t steps hint'
	grep -qxF "hello [pacifica: prologue] \\w\\\$  $play $STAGE/libexec/pacifica/by-hand" "$T/out"
	[ -f "$play/Jean" ]; run grep -cx alias "$T/out"; [ "$output" = 2 ]
}

@test "a prompt asks the recorder only when the view cannot tell it" {
	# Nothing changed, a run in a subshell (read from the view), then set -e,
	# which the recorder says is off again: one prompt of six asks, as the
	# shell's own trace of what it runs shows.
	game "$play" <<<$'set -x\n:\n:\n(prologue >/dev/null)\n:\nset -e\n:'
	[ "$(grep -c '^+* [^ ]*/pacifica-record view ' "$T/err")" = 1 ] || fail "$(cat "$T/err")"
	grep -o '^\[pacifica: [a-z]*\]' "$T/err" | uniq -c | awk '{ $1 = $1 } 1' | same_bytes /dev/stdin $'4 [pacifica: prologue]\n4 [pacifica: resettle]\n'
	grep -qx 'pacifica: set -e would end the game at the first program that says no; it is off again' "$T/err"
}

@test "a view that cannot be read leaves every prompt to the recorder, which says nothing of it" {
	[ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	for view in unreadable missing; do
		rm -rf "$home/.local" "$play"; as_player mkdir "$play"
		(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$play" </dev/null) >"$T/out" 2>&1 || fail "$(cat "$T/out")"
		case $view in unreadable) chmod 000 "$state/view" ;; missing) chmod 500 "$state"; rm -f "$state/view" ;; esac
		(cd "$top" && as_player env -u XDG_STATE_HOME -u PACIFICA_GAME HOME="$home" TMPDIR="$top/tmp" "$PACIFICA" "$play" \
			<<<$'prologue\nresettle\n:') >"$T/out" 2>"$T/err"
		grep -o '^\[pacifica: [a-z]*\]' "$T/err" | same_bytes /dev/stdin $'[pacifica: prologue]\n[pacifica: resettle]\n[pacifica: resettle]\n[pacifica: resettle]\n'
		! grep -v '^bash: cannot set terminal process group\|^bash: no job control' "$T/err" | grep 'bash: ' || fail "$view"
	done
}

@test "--new sets a game aside and begins anew, asking first" {
	game "$play" <<<prologue
	game --new "$play" </dev/null
	[ "$status" = 1 ]; same_bytes "$T/err" "pacifica: the game in $play is set aside only when asked: add --yes"$'\n'
	[ -f "$play/Jean" ]; [ ! -e "$play.1" ]
	for n in 1 2; do
		game --new --yes "$play" <<<prologue
		[ "$status" = 0 ]
		head -n 2 "$T/out" | same_bytes /dev/stdin "The game in $play is set aside in $play.$n."$'\nWelcome to Pacifica, a story played with the commands of your shell.\n'
		[ -f "$play/Jean" ]; [ -d "$play.$n" ]
	done
	[ -f "$play.1/Jean" ]; [ -f "$play.2/Jean" ]
	events | cut -f 2- | grep -c '^aside' | grep -qx 2
	events | grep -qxF "$play.1"$'\taside\t'"$play"
	game --new "$top/fresh" </dev/null; [ "$status" = 0 ]; [ -d "$top/fresh" ]
}

@test "pacifica inside the game says the player is in it already" {
	game "$play" <<<$'"$PACIFICA" "$PWD/other"; echo "status $?"'
	grep -qx 'status 1' "$T/out"; [ ! -e "$PWD/other" ]; [ ! -e "$top/other" ]
	grep -qxF "pacifica: you are already in the game, in $play; 'exit' leaves it" "$T/said"
}

@test "two game shells of one player append to the journal at once and lose no line" {
	mkdir "$top/one" "$top/two"
	runs=$(printf 'raze\n%.0s' {1..60})
	game "$top/one" <<<"$runs" & game "$top/two" <<<"$runs" & wait
	[ "$(wc -l <"$journal")" = 124 ]
	for d in one two; do [ "$(events | grep -c "^$top/$d	raze	victory$")" = 60 ]; done
}

@test "the state of version 1.0.0 is taken over and then removed" {
	mkdir -p "$state" "$top/old" "$top/a\b" "$top/nul"; printf x | tee "$play/Jean" "$top/old/Jean" "$top/a\b/Jean" >"$top/nul/Jean"
	{ printf '%s\n' "$play" "$top/old" "$top/a\b"; printf 'junk\0%s\n' "$top/nul"; } >"$state/games"; printf '%s\n' "$top/old" >"$state/strongholds"
	game "$play" <<<steps
	[ "$status" = 0 ]; [ ! -e "$state/games" ]; [ ! -e "$state/strongholds" ]
	same_bytes <(events) "$play"$'\ttaken\tlist\n'"$top/old"$'\ttaken\tlist\n'"$top/a\\\\b"$'\ttaken\tlist\n'"$play"$'\tresumed\n'"$play"$'\tleft\n'
	game "$top/a\b" </dev/null; [ "$status" = 0 ]
	game "$top/nul" </dev/null; [ "$status" = 1 ]
	game "$top/old" <<<'confirm_shellwatch_message towards'
	grep -qxF "${rebuilt%%$'\n'*}" "$T/out"; grep -qx '4 of 7 steps done.' "$T/out"
}

@test "--help, --version and wrong arguments" {
	game --help; [ "$status" = 0 ]; [ ! -s "$T/err" ]; head -n 7 "$T/out" | same_bytes /dev/stdin "$usage"; grep -q -- '--new ' "$T/out"
	game --version; [ "$status" = 0 ]; same_bytes "$T/out" "pacifica 1.2.0"$'\n'
	for args in '--bogus:unknown option: --bogus' "a b c:unexpected argument: b" '--help extra:unexpected argument: extra' \
		'--version x:unexpected argument: x' '--yes d:--yes goes with --new' '--report --bogus:unknown option: --bogus' \
		'--report --roster:--roster needs an argument' '--report --merge:--merge needs the CSV files to merge'; do
		read -ra argv <<<"${args%%:*}"
		game "${argv[@]}"
		[ "$status" = 2 ]; [ ! -s "$T/out" ]; same_bytes "$T/err" "pacifica: ${args#*:}"$'\n'"$usage"
	done
	[ -z "$(ls -A "$home")" ]
}

@test "a home where nothing can be written: the game goes on, remembered until the player leaves" {
	chmod 555 "$home"
	[ "$(id -u)" != 0 ] || chown -R 65534:65534 "$top"
	(cd "$top" && as_player env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$play" <<<$'prologue\nsteps') >"$T/out" 2>"$T/err"
	grep -qxF "pacifica: cannot write to $journal; this game is remembered only until you leave" "$T/err"
	grep -qF 'I have a friend named Jean' "$T/out"; [ -f "$play/Jean" ]
	grep -qxF '  > resettle    Jean must be home, in a directory called Pacifica' "$T/out"
}

@test "no HOME: a named directory is played without state" {
	# Without HOME, bash reads the bashrc of the home the password database
	# gives: as root, the machine's own; the player's holds none.
	[ "$EUID" != 0 ] || chown -R 65534:65534 "$top"
	(cd "$top" && as_player env -u HOME -u XDG_STATE_HOME "$PACIFICA" "$play" <<<prologue) >"$T/out" 2>"$T/err"
	grep -qxF "pacifica: HOME is not set, so no game can be remembered; playing on" "$T/err"; [ -f "$play/Jean" ]
	grep -qxF 'Next: when Jean is home in Pacifica, run resettle.' "$T/err"
}

@test "a link to the launcher plays the game beside the launcher" { ln -s "$PACIFICA" "$top/link"; PATH=/usr/bin:/bin "$top/link" --walkthrough >"$T/out"; tail -n 1 "$T/out" | grep -qx 'The walkthrough reached the end of the game.'; }

@test "on a terminal, long story lines break at blanks to fit it; words are never cut" {
	printf 'celebrate\nexit\n' | script -qec "stty cols 50; env -u XDG_STATE_HOME HOME='$home' '$PACIFICA' '$play'" /dev/null |
		tr -d '\r' | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | sed -n '/eradicated the Grob/,/take him there!$/p' >"$T/shown"
	[ "$(awk 'length > 50' "$T/shown" | wc -l)" = 0 ]; [ "$(wc -l <"$T/shown")" -gt 13 ]
	[ "$(tr -s ' \n' '  ' <"$T/shown")" = "$(printf '%s' "$openings" | tr -s ' \n' '  ')" ]
}

@test "after a run in a pipe, a subshell, a command substitution or the background, the next prompt shows it" {
	for run in 'prologue | cat' '( prologue )' 'x=$(prologue)' 'prologue & wait' 'sh -c "exit 0"; prologue >/dev/null'; do
		play=$top/f$((++n)); game "$play" <<<"$run"
		grep -q "^\[pacifica: resettle\] " "$T/err" || { echo "after '$run'" >&2; cat "$T/err" >&2; return 1; }
	done
}

@test "a second shell of the game sees the first one's progress; the stronghold is built once" {
	open_game "$play"
	answered
	game "$play" <<<"$(head -n 5 <<<"$whole_game"); confirm_shellwatch_message towards"
	type_in ':' 'confirm_shellwatch_message towards'
	close_game
	grep -q '^\[pacifica: raze\] ' "$T/open.err"
	grep -qxF 'The Grob stronghold still stands in your playing directory, starting at' "$T/open.out"
	[ "$(events | cut -f 2 | grep -c bridge)" = 1 ]
}

@test "another game's run, in the same record, leaves a shell's prompt at its own game's step" {
	open_game "$play"
	answered
	mkdir "$top/other"; game "$top/other" <<<'prologue'
	grep -q '^\[pacifica: resettle\] ' "$T/err"
	type_in ':'
	close_game
	grep -o '^\[pacifica: [a-z]*\]' "$T/open.err" | sort -u | same_bytes /dev/stdin $'[pacifica: prologue]\n'
}

@test "set -e typed in the game does not end it at a program that says no" {
	# Alone, and with a run of the game's on its line.
	for line in 'set -e' 'set -e; prologue >/dev/null'; do
		rm -rf "$play" "$home/.local"
		game "$play" <<<"$line"$'\nresettle\necho "still here $?"'
		grep -qx 'still here 1' "$T/out"
		grep -qx 'pacifica: set -e would end the game at the first program that says no; it is off again' "$T/said"
		[ "$(events | cut -f 2 | tail -n 1)" = left ]
	done
}

@test "a shell that outlives --new of its game plays on in the set-aside game and records nothing into the new one" {
	game "$play" <<<prologue
	open_game "$play"
	answered
	game --new --yes "$play" </dev/null
	type_in "mkdir Pacifica; mv Jean Pacifica/; resettle" "cd $play; prologue"
	close_game
	tr '\n' ' ' <"$T/open.err" | grep -qF "prologue judged the directory it ran in, $play, not your playing directory, so the game does not count this run. Your game is in $play.1; this goes there:     cd $play.1 "
	same_bytes <(events | grep -v '	left$') "$play"$'\tbegun\n'"$play"$'\tprologue\tbriefing\n'"$play"$'\tresumed\n'"$play.1"$'\taside\t'"$play"$'\n'"$play"$'\tbegun\n'"$play.1"$'\tresettle\thome\n'"$play.1"$'\toutside\tprologue\n'
	game "$play.1" </dev/null; grep -qx '2 of 7 steps done.' "$T/out"
}

@test "emptying the playing directory, or deleting it, undoes no step, and the welcome says so" {
	game "$play" <<<"$(head -n 3 <<<"$whole_game")"
	rm -r "${play:?}"/*
	game "$play" </dev/null; grep -qx '2 of 7 steps done.' "$T/out"
	head -n 1 "$T/out" | grep -qxF "Welcome back to Pacifica.  Your game is in $play, but the directory is empty now: what was made there is gone.  The steps done still count."
	rm -r "$play"
	game "$play" </dev/null; grep -qx '2 of 7 steps done.' "$T/out"; [ -d "$play" ]
	head -n 1 "$T/out" | grep -qxF "Welcome back to Pacifica.  Your game is in $play, but the directory was deleted: it is made again, empty.  The steps done still count."
	game "$top/fresh" </dev/null; game "$top/fresh" </dev/null
	head -n 1 "$T/out" | grep -qxF "Welcome back to Pacifica.  Your game is in $top/fresh, as you left it."
}

@test "a write the record refuses is kept for the session, said once, and written at the next event that can" {
	open_game --player "$play"
	type_in prologue; answered
	chmod 444 "$journal"
	type_in 'mkdir Pacifica; mv Jean Pacifica/; resettle' 'duplicate' 'chmod 644 "$HOME/.local/state/pacifica/record"' 'duplicate'
	close_game 0
	[ "$(grep -c 'cannot write to' "$T/open.err")" = 1 ]
	grep -qxF "pacifica: cannot write to $journal; this game is remembered only until you leave" "$T/open.err"
	same_bytes <(events | cut -f 2-) $'begun\nprologue\tbriefing\nresettle\thome\nduplicate\tscared\nduplicate\tscared\nleft\n'
}

@test "root keeps its games only in a state directory of its own" {
	[ "$(id -u)" = 0 ] || { game "$play" </dev/null; [ "$status" = 0 ]; return; }
	mkdir -p "$top/theirs"; chown 65534:65534 "$top/theirs"
	(cd "$top" && XDG_STATE_HOME=$top/theirs TMPDIR=$top/theirs HOME="$home" "$PACIFICA" "$play" <<<prologue) >"$T/out" 2>"$T/err"
	grep -qxF "pacifica: $top/theirs belongs to another user, so no game can be remembered; playing on" "$T/err"
	[ -f "$play/Jean" ]; [ -z "$(ls -A "$top/theirs")" ]
	(cd "$top" && TMPDIR=$top/theirs "$PACIFICA" --walkthrough) >/dev/null; [ -z "$(ls -A "$top/theirs")" ]
}

# Fixtures that bring each program to each of its answers: PROGRAM KEY
# SETUP.
answers=(
	'prologue briefing :' 'prologue unwritable mkdir Jean'
	'resettle home mkdir Pacifica; printf %s "$jean" >Pacifica/Jean' 'resettle liar :'
	'duplicate alert mkdir Pacifica Pacifica_Copy; printf %s "$jean" | tee Pacifica/Jean >Pacifica_Copy/Jean'
	"duplicate unwritable mkdir Pacifica Pacifica_Copy $alert_name; printf %s \"\$jean\" | tee Pacifica/Jean >Pacifica_Copy/Jean"
	'duplicate nojean :' 'duplicate scared mkdir Pacifica; printf %s "$jean" >Pacifica/Jean'
	'duplicate symlink mkdir Pacifica Pacifica_Copy; printf %s "$jean" >Pacifica/Jean; ln -s ../Pacifica/Jean Pacifica_Copy/Jean'
	'duplicate imperfect mkdir Pacifica Pacifica_Copy; printf %s "$jean" >Pacifica/Jean; echo x >Pacifica_Copy/Jean'
	'raze victory :' "raze standing mkdir -p $stronghold"
	'celebrate jailed mkdir jail; printf "%s\0" "$grob_record" >jail/.grob' 'celebrate planted :'
	'celebrate nojail touch .grob' 'celebrate loose touch .grob; mkdir jail' 'celebrate wrong mkdir jail; echo x >jail/.grob'
	'celebrate replanted mkdir jail' 'celebrate failed mkdir -p jail/.grob'
	'retribute done mkdir indefinite_detention_center; printf "%s\0" "$grob_record" >indefinite_detention_center/.grob'
	'retribute angry :' 'retribute wrong mkdir indefinite_detention_center; : >indefinite_detention_center/.grob'
	'retribute readerror mkdir -p indefinite_detention_center/.grob'
)

@test "the story's table names every answer of every program, and every row of it is an answer a run gives" {
	rec=$STAGE/libexec/pacifica-record
	grep '^answer|' "$SOURCE_DIR/launcher/story.table" | cut -d '|' -f 2,3 | tr '|' ' ' | sort >"$T/rows"
	for fixture in "${answers[@]}"; do
		read -r program key setup <<<"$fixture"
		d=$top/a$((++n)); mkdir -p "$d/game" "$d/record"
		got=$(cd "$d/game" && eval "$setup" && export PACIFICA_RECORD_DIR=$d/record &&
			PACIFICA_GAME=$("$rec" note begun) && export PACIFICA_GAME && { "$rec" run "$program" >/dev/null 2>&1 || :; } &&
			"$rec" view last | cut -d " " -f 2)
		[ "$got" = "$program:$key" ] || { echo "'$setup' gave $program $got, not $key" >&2; return 1; }
		echo "$program $key" >>"$T/given"
	done
	sort "$T/given" | diff "$T/rows" -
}
