#!/usr/bin/env bats
# Hints: one for every situation a player can be in, growing more specific
# call by call, whose command lines work; a nudge once per situation; and
# hints turned off for a game or for the machine.

load helpers
load texts
load launch

# The tmux server of a game played in a terminal is ended by its PID.
teardown() {
	[ ! -s "$T/tmux.pid" ] || kill "$(cat "$T/tmux.pid")" 2>/dev/null || :
	cd /; chmod -R u+rwx "$top" 2>/dev/null; rm -rf "$top"
}

# The commands that bring a game to each step.
at_resettle=prologue
at_duplicate="$at_resettle; mkdir Pacifica; mv Jean Pacifica/; resettle"
at_bridge="$at_duplicate; mkdir Pacifica_Copy; cp Pacifica/Jean Pacifica_Copy/; duplicate"
at_raze="$at_bridge; confirm_shellwatch_message towards"
at_celebrate="$at_raze; rm -r yklim_yaw; raze"
at_retribute="$at_celebrate; celebrate; mkdir jail; mv .grob jail/; celebrate"

# situation COMMANDS OPENING LINES [stays|again]: after COMMANDS, the first
# hint begins with OPENING; the second is the command lines LINES
# (separated by "|"), each on a line of its own, indented; the third the
# same lines, each after what it does; no line is wider than 79 columns;
# and the second hint's lines, typed one by one as they stand, each
# succeed, and together change the last answer or the step (but for
# "again": the same answer comes again; "stays": they are not typed).
situation() {
	local skip=
	[ "${4-}" != stays ] || skip='#'
	play=$top/s$((++n))
	game "$play" <<-EOF
		$1
		echo "@@ \$(\$PACIFICA_RECORDER view last)"; hint; echo @@; hint >$T/lines; cat $T/lines; echo @@; hint
		$skip while IFS= read -r line <&3; do eval "\$line" >/dev/null 2>&1 </dev/null; echo "\$? \$line" >>$T/typed; done 3<$T/lines
		echo "@@ \$(\$PACIFICA_RECORDER view last)"
	EOF
	local before after want
	want=$(tr '|' '\n' <<<"$3" | sed 's/^/    /')$'\n'
	# From the first view to the last: what the game says as it is left
	# is no hint.
	awk '/^@@ / { if (!first) first = NR; last = NR } { l[NR] = $0 } END { for (i = first; i <= last; i++) print l[i] }' \
		"$T/out" >"$T/hints"
	before=$(grep '^@@ ' "$T/hints" | head -n 1) after=$(grep '^@@ ' "$T/hints" | tail -n 1)
	awk '/^@@/ { n++; next } n == 1' "$T/hints" | tr '\n' ' ' | grep -qF -- "$2" ||
		{ echo "after '$1': the first hint does not begin '$2'" >&2; cat "$T/hints" >&2; return 1; }
	awk '/^@@/ { n++; next } n == 2' "$T/hints" | same_bytes /dev/stdin "$want"
	awk '/^@@/ { n++; next } n == 3' "$T/hints" >"$T/explained"
	grep '^    ' "$T/explained" | same_bytes /dev/stdin "$want"
	awk '/^    / { if (!said) bad = 1; said = 0; next } /:$/ { said = 1 } END { exit bad }' "$T/explained" ||
		{ echo "after '$1': a line is not explained" >&2; cat "$T/explained" >&2; return 1; }
	[ "$(grep -v '^@@' "$T/hints" | awk 'length > 79' | wc -l)" = 0 ] || fail "after '$1', a line is wider than 79 columns: $(grep -v '^@@' "$T/hints" | awk 'length > 79')"
	[ "${4-}" = stays ] && return
	grep -v '^0 ' "$T/typed" && { echo "after '$1', a line of the hint failed: $(cat "$T/hints")" >&2; return 1; }
	[ "$before" != "$after" ] || [ "${4-}" = again ] || { echo "after '$1', the hint's commands changed nothing: $after" >&2; return 1; }
	rm "$T/typed"
}

@test "every situation has a hint that fits, grows, and works, line by line" {
	situation '' 'prologue begins the story' 'prologue'
	situation 'mkdir Jean; prologue' 'Jean is a directory here' 'mv Jean Jean.old|prologue'
	situation "$at_resettle" 'Jean lives in a directory called Pacifica' 'mkdir Pacifica|mv Jean Pacifica/|resettle'
	situation "$at_resettle; mkdir Pacifica; cp Jean Pacifica/; resettle" 'Jean was copied into Pacifica, not moved' 'rm -r Jean|resettle'
	situation "$at_resettle; mkdir Pacifica; resettle" 'Pacifica is there, but Jean is still here' 'mv Jean Pacifica/|resettle'
	situation "$at_resettle; mkdir Pacifica; mv Jean Pacifica/; sed -i s/citizen/comrade/ Pacifica/Jean; resettle" \
		'Pacifica/Jean is not the Jean that prologue wrote' 'prologue|mv Jean Pacifica/|resettle'
	situation "$at_resettle; rm Jean; resettle" 'Jean is nowhere to be found' 'prologue|mkdir -p Pacifica|mv Jean Pacifica/|resettle'
	situation "$at_resettle; mkdir Pacifica; mv Jean Pacifica/" 'Everything looks in place: run resettle' 'resettle'
	situation "$at_resettle; cd /" "your game is in $top/s$((n + 1)): cd followed by that path" "cd $top/s$((n + 1))|mkdir Pacifica|mv Jean Pacifica/|resettle"
	situation "$at_resettle; touch Pacifica; resettle" 'Pacifica is a file, not a directory, so nothing can go into it' \
		'mv Pacifica Pacifica.old|mkdir Pacifica|mv Jean Pacifica/|resettle'
	situation "$at_resettle; touch Pacifica Pacifica.old; resettle" 'Pacifica is a file' \
		'mv Pacifica Pacifica.old2|mkdir Pacifica|mv Jean Pacifica/|resettle'
	situation "$at_resettle; ln -s nowhere Pacifica; rm Jean; resettle" 'Pacifica is a symbolic link, not a directory' \
		'mv Pacifica Pacifica.old|prologue|mkdir -p Pacifica|mv Jean Pacifica/|resettle'
	situation "$at_resettle; cp Jean Pacifica; resettle" 'Pacifica is not a directory but a file: Jean under that name' \
		'mv Pacifica Jean|mkdir Pacifica|mv Jean Pacifica/|resettle'
	situation "$at_resettle; mkdir -p Pacifica/Jean; resettle" 'Pacifica/Jean is a directory, where Jean must be a file' \
		'mv Pacifica/Jean Pacifica/Jean.old|mv Jean Pacifica/|resettle'
	situation "$at_resettle; mkdir -- -Pacifica; mv Jean -- -Pacifica/; resettle" "You made '-Pacifica'; Jean's home is Pacifica, with no - before it" \
		'mv ./-Pacifica Pacifica|resettle'
	situation "$at_duplicate" 'Jean is home, but there is no copy of him' 'mkdir -p Pacifica_Copy|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; mkdir Pacifica_Copy; ln -s ../Pacifica/Jean Pacifica_Copy/Jean; duplicate" \
		'Pacifica_Copy/Jean is a symbolic link' 'ls -l Pacifica_Copy|rm Pacifica_Copy/Jean|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; mkdir Pacifica_Copy; mv Pacifica/Jean Pacifica_Copy/; ln -s ../Pacifica_Copy/Jean Pacifica/Jean; duplicate" \
		'Pacifica/Jean is a symbolic link' 'ls -l Pacifica|rm Pacifica/Jean|cp Pacifica_Copy/Jean Pacifica/|duplicate'
	situation "$at_duplicate; mkdir Pacifica_Copy; echo other >Pacifica_Copy/Jean; duplicate" \
		'The first lines of Pacifica/Jean and Pacifica_Copy/Jean differ' 'rm -r Pacifica_Copy/Jean|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; mkdir Pacifica_Copy; mv Pacifica/Jean Pacifica_Copy/; duplicate" \
		'There is a copy in Pacifica_Copy, but Jean himself is missing' 'mkdir -p Pacifica|cp Pacifica_Copy/Jean Pacifica/|duplicate'
	situation "$at_duplicate; rm -r Pacifica; duplicate" 'duplicate finds neither Pacifica/Jean nor Pacifica_Copy/Jean' \
		'mkdir -p Pacifica Pacifica_Copy|prologue|mv Jean Pacifica/|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; mv Pacifica Pacifica_Copy; duplicate; cp Pacifica_Copy/Jean Pacifica; duplicate" \
		'Pacifica is not a directory but a file: Jean under that name' 'mv Pacifica Jean|mkdir Pacifica|mv Jean Pacifica/|duplicate'
	situation "$at_duplicate; touch Pacifica_Copy; duplicate" 'Pacifica_Copy is a file, not a directory' \
		'mv Pacifica_Copy Pacifica_Copy.old|mkdir -p Pacifica_Copy|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; touch Pacifica_Copy; mv Pacifica/Jean .; rm -r Pacifica; touch Pacifica; duplicate" 'Pacifica is a file' \
		'mv Pacifica Pacifica.old|mv Pacifica_Copy Pacifica_Copy.old|mkdir -p Pacifica Pacifica_Copy|prologue|mv Jean Pacifica/|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; mkdir -p Pacifica_Copy/Jean; duplicate" 'Pacifica_Copy/Jean is a directory, where Jean' \
		'mv Pacifica_Copy/Jean Pacifica_Copy/Jean.old|mkdir -p Pacifica_Copy|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_duplicate; mkdir Pacifica_Copy; mv Pacifica Pacifica_Copy/; duplicate" 'You made Pacifica inside Pacifica_Copy' \
		'mv Pacifica_Copy/Pacifica .|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	situation "$at_bridge" 'An alert file with a garbled name has arrived' "ls|cat $alert_name|confirm_shellwatch_message towards"
	situation "$at_bridge; confirm_shellwatch_message the" 'confirm_shellwatch_message wants one word, the 10th' "cat $alert_name|confirm_shellwatch_message towards"
	situation "$at_bridge; rm $alert_name" 'The alert file is gone; duplicate writes it again' "duplicate|cat $alert_name|confirm_shellwatch_message towards"
	situation "$at_bridge; raze" 'raze found no stronghold, because none stands here yet' "cat $alert_name|confirm_shellwatch_message towards"
	situation "$at_bridge; rm -r $alert_name Pacifica_Copy" 'Jean is home, but there is no copy of him' \
		'mkdir -p Pacifica_Copy|cp Pacifica/Jean Pacifica_Copy/|duplicate' again
	situation "$at_raze; raze" 'The stronghold is a tree of directories' 'rm -r yklim_yaw|raze'
	situation "$at_raze; cd yklim_yaw; rm -r atled_tnardauq; raze" "your game is in $top/s$((n + 1)): cd followed" "cd $top/s$((n + 1))|raze"
	situation "$at_duplicate; cd ..; rm -r s$((n + 1))" "Your playing directory, $top/s$((n + 1)), is gone" \
		"mkdir -p $top/s$((n + 1))|cd $top/s$((n + 1))|mkdir -p Pacifica Pacifica_Copy|prologue|mv Jean Pacifica/|cp Pacifica/Jean Pacifica_Copy/|duplicate"
	situation "$at_celebrate" 'celebrate hides a Grob in a file whose name begins with a dot' 'celebrate|ls -a|mkdir jail|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate" 'The Grob hides in .grob, a hidden file: ls -a shows it. mkdir' 'ls -a|mkdir jail|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mkdir jail; celebrate" 'The Grob hides in .grob, a hidden file that ls -a shows' 'ls -a|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mkdir jail; cp .grob jail/; celebrate" 'The Grob was copied into the jail, not moved' 'ls -a . jail|rm .grob|celebrate'
	situation "$at_celebrate; celebrate; touch jail; celebrate" 'jail is a file, not a directory' 'mv jail jail.old|ls -a|mkdir jail|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mv .grob jail; celebrate" 'jail is not a directory but a file: the Grob under that name' \
		'mv jail .grob|mkdir jail|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mkdir jail; mv .grob jail/grob; celebrate" 'The Grob is in jail as grob' \
		'mv jail/grob jail/.grob|rm .grob|celebrate'
	situation "$at_celebrate; celebrate; mkdir jail; echo x >jail/.grob; rm .grob; celebrate" \
		'The file in jail/.grob is not the Grob that celebrate hid' 'rm -r jail/.grob|celebrate|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mkdir -p jail/.grob; rm .grob; celebrate" \
		'jail/.grob is a directory, where the Grob must be a file' 'mv jail/.grob jail/.grob.old|celebrate|ls -a|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mkdir jail; echo x >jail/.grob; rm .grob; celebrate; rm jail/.grob; celebrate" \
		'celebrate hid the Grob here again without a word' 'ls -a|mv .grob jail/|celebrate'
	situation "$at_celebrate; celebrate; mkdir jail; rm .grob" 'The Grob is nowhere to be found' 'celebrate|ls -a|mv .grob jail/|celebrate'
	situation "$at_retribute" 'The jail must get a new name' 'mv jail indefinite_detention_center|retribute'
	situation "$at_retribute; cp -r jail indefinite_detention_center; retribute" 'The jail still stands: it was copied' \
		'rm -r indefinite_detention_center|mv jail indefinite_detention_center|retribute'
	situation "$at_retribute; mkdir indefinite_detention_center; mv jail/.grob .; rm -r jail; retribute" 'The Grob is loose here' \
		'mkdir -p indefinite_detention_center|mv .grob indefinite_detention_center/|retribute'
	situation "$at_retribute; rm -r jail; retribute" 'The Grob must be inside indefinite_detention_center' \
		'celebrate|mkdir -p indefinite_detention_center|mv .grob indefinite_detention_center/|retribute'
	situation "$at_retribute; mv jail indefinite_detention_center; echo x >indefinite_detention_center/.grob; retribute" \
		'indefinite_detention_center/.grob is not the Grob' 'rm -r indefinite_detention_center/.grob|celebrate|mv .grob indefinite_detention_center/|retribute'
	situation "$at_retribute; touch indefinite_detention_center; retribute" 'indefinite_detention_center is a file, not a directory' \
		'mv indefinite_detention_center indefinite_detention_center.old|mv jail indefinite_detention_center|retribute'
	situation "$at_retribute; mv jail/.grob indefinite_detention_center; retribute" \
		'indefinite_detention_center is not a directory but a file: the Grob' \
		'mv indefinite_detention_center .grob|mv jail indefinite_detention_center|mv .grob indefinite_detention_center/|retribute'
	situation "$at_retribute; mv jail indefinite_detention_center; retribute" 'The game is finished' 'exit|pacifica --new' stays
}

# Beginners' mistakes, each played from a real game: STEP (the commands
# that bring the game to it), the mistake, what the first hint must say,
# and the step the game is on once the second hint's command lines, and
# nothing else, are typed; "player" plays it as a user who is not root.
mistakes=(
	"|mkdir Jean; prologue|Jean is a directory here|resettle"
	"|chmod a-w .; prologue|this directory is not yours to write|resettle|player"
	"at_resettle|mkdir pacifica; mv Jean pacifica; resettle|You made pacifica; Jean's home is Pacifica, with a capital P|duplicate"
	"at_resettle|mkdir PACIFICA; mv Jean PACIFICA/; resettle|You made PACIFICA; Jean's home is Pacifica|duplicate"
	"at_resettle|mkdir Pacifca; resettle|You made Pacifca; Jean's home is Pacifica|duplicate"
	"at_resettle|mkdir 'Pacifica '; mv Jean 'Pacifica '; resettle|You made 'Pacifica '; Jean's home is Pacifica, with no blank at its end|duplicate"
	"at_resettle|mkdir Pacifica; mv Jean Pacifica/jean; resettle|Jean is in Pacifica as jean; the name must be Jean, with a capital J|duplicate"
	"at_resettle|mkdir -p Pacifica/Pacifica; mv Jean Pacifica/Pacifica/; resettle|Jean is in Pacifica/Pacifica, one level too deep|duplicate"
	"at_resettle|mv Jean Pacifica; resettle|Pacifica is not a directory but a file|duplicate"
	"at_resettle|mkdir pacifica; cp Jean pacifica/; resettle|You made pacifica;|duplicate"
	"at_resettle|mv Jean jean; resettle|Jean is here, renamed to jean|duplicate"
	"at_resettle|mkdir \"Pacifica's\"; mv Jean \"Pacifica's\"; resettle|You made Pacifica\\'s; Jean's home is Pacifica|duplicate"
	"at_resettle|mkdir \$'pacifica\\t'; mv Jean pacifica?; resettle|You made \$'pacifica\\t'; Jean's home is Pacifica|duplicate"
	"at_duplicate|mkdir Pacifica_copy; cp Pacifica/Jean Pacifica_copy/; duplicate|You made Pacifica_copy; the backup directory is Pacifica_Copy, with a capital C|bridge"
	"at_duplicate|mkdir Pacifica-Copy; cp Pacifica/Jean Pacifica-Copy/; duplicate|You made Pacifica-Copy; the backup directory is Pacifica_Copy, with _ where you typed -|bridge"
	"at_duplicate|mkdir Pacifica/Pacifica_Copy; cp Pacifica/Jean Pacifica/Pacifica_Copy/; duplicate|You made Pacifica_Copy inside Pacifica|bridge"
	"at_duplicate|cp Pacifica/Jean Pacifica_Copy; duplicate|Pacifica_Copy is not a directory but a file|bridge"
	"at_duplicate|mkdir Pacifica_Copy; cp Pacifica/Jean Pacifica_Copy/; chmod a-w .; duplicate|duplicate could not write the alert file here|bridge|player"
	"at_celebrate|chmod a-w .; celebrate|celebrate could not read or write a Grob file|celebrate|player"
	"at_celebrate|celebrate; mkdir jail; mv .grob jail/; chmod 000 jail/.grob; celebrate|celebrate could not read or write a Grob file|retribute|player"
	"at_bridge|confirm_shellwatch_message the|confirm_shellwatch_message wants one word, the 10th|raze"
	"at_bridge|confirm_shellwatch_message|confirm_shellwatch_message wants one word, the 10th|raze"
	"at_raze|rm yklim_yaw; raze|rm deletes files but refuses a directory|celebrate"
	"at_raze|rmdir yklim_yaw; raze|rmdir deletes only an empty directory|celebrate"
	"at_celebrate|celebrate; mkdir Jail; mv .grob Jail; celebrate|You made Jail; the jail is jail, with a small j|retribute"
	"at_celebrate|celebrate; mkdir jial; mv .grob jial/; celebrate|You made jial; the jail is jail|retribute"
	"at_celebrate|celebrate; mkdir jail; mv .grob jail/grob; celebrate|The Grob is in jail as grob; the name must be .grob, beginning with a dot|retribute"
	"at_celebrate|celebrate; mv .grob jail; celebrate|jail is not a directory but a file|retribute"
	"at_resettle|mkdir -- -Pacifica; mv Jean -- -Pacifica; resettle|You made '-Pacifica'; Jean's home is Pacifica|duplicate"
	"at_retribute|mv jail indefinite_detention_centre; retribute|You made indefinite_detention_centre|finished"
	"at_retribute|mv jail Indefinite_Detention_Center; retribute|You made Indefinite_Detention_Center; the detention center is indefinite_detention_center, all in small letters|finished"
	"at_retribute|mkdir indefinite_detention_center; mv jail indefinite_detention_center/; retribute|The Grob is in indefinite_detention_center/jail, one level too deep|finished"
)

@test "every beginner's mistake is named by the first hint, and the second's command lines mend it, deleting nothing unasked" {
	for row in "${mistakes[@]}"; do
		IFS='|' read -r step mistake named next who <<<"$row"
		play=$top/m$((++n)) o=$top/o$n; mkdir "$play" "$o"
		[ -z "$who" ] || chown -R 65534 "$home" "$play" "$o"
		(cd "$top" && ${who:+as_player} env -u XDG_STATE_HOME -u PACIFICA_GAME HOME="$home" "$PACIFICA" "$play" >"$o/out" 2>&1) <<-EOF
			${step:+${!step};} $mistake
			find . | sort >$o/before; hint >$o/first; hint >$o/second
			sed -n 's/^    //p' $o/second >$o/commands; . $o/commands >/dev/null 2>&1
			find . | sort >$o/after; \$PACIFICA_RECORDER view >$o/view
		EOF
		tr '\n' ' ' <"$o/first" | grep -qF -- "$named" && [ "$(cat "$o/view")" = "$next" ] ||
			{ echo "$mistake: '$(cat "$o/view")', not $next, after:" >&2; cat "$o/first" "$o/second" >&2; return 1; }
		# The names that the lines move or delete, as bash reads them.
		moved=()
		while IFS= read -r line; do
			eval "words=($line)"; [[ ${words[0]} != mv && ${words[0]} != rm ]] || moved+=("${words[@]#-r}")
		done <"$o/commands"
		moved=("${moved[@]#./}")
		while IFS= read -r gone; do
			p=${gone#./}
			until printf '%s\n' "${moved[@]}" | grep -qxF -- "$p"; do
				[[ $p == */* ]] || { echo "$mistake: $gone was lost, not named by the hint" >&2; cat "$o/commands" >&2; return 1; }
				p=${p%/*}
			done
		done < <(comm -23 "$o/before" "$o/after" | grep -v '^\./\.grob$\|^\./jail/\.grob$\|/Jean$')
	done
}

@test "a new game played by hints alone comes to its end" {
	game "$play" <<-EOF
		for i in \$(seq 30); do [ "\$(\$PACIFICA_RECORDER view)" = finished ] && break; hint >/dev/null; hint >$T/lines; . $T/lines; done
		echo "end \$(\$PACIFICA_RECORDER view) after \$i"
	EOF
	grep -qx 'end finished after 8' "$T/out"
	grep -qF "$justice" "$T/out"
}

@test "a nudge once per situation, never after a step is done; hints off for a game and for the machine" {
	game "$play" <<<$'resettle\nresettle\nprologue\nresettle\nmkdir Pacifica\nresettle'
	same_bytes "$T/said" $'Stuck? Type \'hint\'.\nNext: when Jean is home in Pacifica, run resettle.\nStuck? Type \'hint\'.\nStuck? Type \'hint\'.\n'
	rm -rf "$play"
	game --no-hints "$play" <<<$'resettle\nhint'
	same_bytes "$T/said" ''; grep -qx 'Hints are off in this game.' "$T/out"
	cp -R "$STAGE" "$top/game"; printf '# a teacher\n hints =  off \n' >"$top/game/etc/pacifica.conf"
	rm -rf "$play"
	PACIFICA=$top/game/bin/pacifica game "$play" <<<$'resettle\nhint'
	same_bytes "$T/said" ''; grep -qx 'Hints are off in this game.' "$T/out"
	"$top/game/bin/pacifica" --walkthrough | tail -n 1 | grep -qx 'The walkthrough reached the end of the game.'
}

@test "what a player may leave in the playing directory (a FIFO, links that loop or lead nowhere, a directory no one may enter) never stalls or misleads the hints" {
	chown 65534 "$home" "$play"
	(cd "$top" && timeout 20 setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_STATE_HOME HOME="$home" "$PACIFICA" "$play" >"$T/out" 2>&1) <<-'EOF'
		prologue; mkfifo pacifica; ln -s loop loop; ln -s nowhere Pacifica_; mkdir -p shut/Pacifica; cp Jean shut/Pacifica/; chmod 000 shut
		mkdir Pacifica; mv Jean Pacifica/jean; resettle; hint; hint
	EOF
	grep -qx 'Jean is in Pacifica as jean; the name must be Jean, with a capital J. To mend' "$T/out"
	grep -qx '    mv Pacifica/jean Pacifica/Jean' "$T/out"
	chmod 755 "$play/shut"
}

# The shell's traps: a command typed as the game's with another case, a
# path or a typo, and what the player sees; the status bash would give.
traps=(
	"Raze|Raze: command not found. The game's command is raze, with a small r."
	"HINT|HINT: command not found. The game's command is hint, all in small letters."
	"./raze|bash: ./raze: No such file or directory\nThe game's command is raze: type it without ./ before it."
	"prologue >/dev/null; ./raze|Next: when Jean is home in Pacifica, run resettle.\nbash: ./raze: No such file or directory\nThe game's command is raze: type it without ./ before it."
	"../Celebrate|bash: ../Celebrate: No such file or directory\nThe game's command is celebrate: type it without ../ before it."
	"retribut|retribut: command not found. Did you mean the game's retribute?"
	"Steps now|Steps: command not found. The game's command is steps, with a small s."
	"confirm-shellwatch-message towards|confirm-shellwatch-message: command not found. The game's command is\nconfirm_shellwatch_message, with _ where you typed -."
	"lss|bash: lss: command not found"
	"ls ./raze|ls: cannot access './raze': No such file or directory"
)

@test "a game's command mistyped is named in one line; any other not found is bash's, or the player's own handler's" {
	for row in "${traps[@]}"; do
		rm -rf "$play"
		game "$play" <<<"${row%%|*}"$'\necho "status $?"'
		same_bytes "$T/said" "$(printf '%b' "${row#*|}")"$'\n'
		grep -qx "status $([[ $row == ls\ * ]] && echo 2 || echo 127)" "$T/out"
	done
	# One the shell had before ~/.bashrc, as the system's would be, is not
	# the player's; one of ~/.bashrc is.
	command_not_found_handle() { echo "not mine: $*" >&2; return 43; }
	export -f command_not_found_handle
	for rc in none :; do
		rm -f "$home/.bashrc"; [ "$rc" = none ] || printf '%s\n' "$rc" >"$home/.bashrc"
		rm -rf "$play"
		game "$play" <<<'lss'
		same_bytes "$T/said" $'bash: lss: command not found\n'
	done
	printf '%s\n' 'command_not_found_handle() { echo "mine: $*" >&2; return 42; }' "PS2='more> '" >"$home/.bashrc"
	rm -rf "$play"
	game "$play" <<<$'lss -l\necho "status $?"\nRaze\necho "status $?"\necho \'a\nb\''
	grep -v '^more> ' "$T/said" | same_bytes /dev/stdin $'mine: lss -l\nRaze: command not found. The game\'s command is raze, with a small r.\n'
	sed -n '/^status /,/^b$/p' "$T/out" | same_bytes /dev/stdin $'status 42\nstatus 127\na\nb\n'
	grep -qF 'more> ' "$T/err"; ! grep -qF '[quote open' "$T/err"
}

@test "a line a quote left open says how it ends, and help names Ctrl-C" {
	game "$play" <<<$'echo \'a\nb\'\nhelp'
	grep -qF '[quote open: close it, or Ctrl-C cancels] > ' "$T/err"
	sed -n '/^a$/,$p' "$T/out" | head -n 2 | same_bytes /dev/stdin $'a\nb\n'
	grep -qxF '  Ctrl-C                           cancels a line, even one a quote left open' "$T/out"
}

@test "no silence: a run that prints nothing, and a shell whose game was set aside or deleted, say so once" {
	game "$play" <<<"$at_celebrate; celebrate; mkdir jail; mv .grob jail/grob; celebrate"
	grep -qxF 'No Grob was in jail/.grob, so celebrate hid him here again: ls -a shows .grob.' "$T/said"
	play=$top/two
	game "$play" <<-EOF
		prologue
		env -u PACIFICA_GAME "\$PACIFICA" --new --yes "$play" </dev/null >/dev/null 2>&1
		:
		:
		cd "$play.1"
		cd ..; rm -r "$play.1"
		:
		mkdir -p "$play.1"; cd "$play.1"; prologue >/dev/null
		mkdir Pacifica; mv Jean Pacifica/; resettle
		cd ..; rm -r "$play.1"
		:
	EOF
	[ "$(grep -v '^Next: \|^Stuck' "$T/said" | tr '\n' ' ')" = "Your game was set aside as $play.1 when a new game began in $play, and goes on there; this shell is in it still. This goes to it:     cd $play.1 Your playing directory $play.1 is gone: it was deleted or moved. The steps done still count; these make it again and go there:     mkdir -p $play.1     cd $play.1 Your playing directory $play.1 is gone: it was deleted or moved. The steps done still count; these make it again and go there:     mkdir -p $play.1     cd $play.1 " ]
	grep -o '^\[pacifica: [^]]*\]' "$T/err" | uniq -c | awk '{ $1 = $1 } 1' | same_bytes /dev/stdin '1 [pacifica: prologue]
1 [pacifica: resettle]
3 [pacifica: resettle, set aside]
1 [pacifica: resettle]
2 [pacifica: resettle, directory gone]
1 [pacifica: resettle]
1 [pacifica: duplicate]
2 [pacifica: duplicate, directory gone]
'
	events | grep -qx "$play.1"$'\tresettle\thome'
	# Made again and deleted again, a run between: said again.
	play=$top/three
	game "$play" <<-EOF
		prologue >/dev/null; cd ..; rm -r "$play"
		mkdir "$play"; cd "$play"; prologue >/dev/null
		cd ..; rm -r "$play"
	EOF
	[ "$(grep -c "^Your playing directory $play is gone" "$T/said")" = 2 ]

}

# A game in a terminal, COLUMNS wide and 24 lines high, in tmux, typed to
# as a beginner types: the screen read (the terminal's folds joined), each
# command copied from it and typed back.  Every wait ends, failing, after
# 30 seconds.  The server's socket is below $top, whose name is short
# enough for one.
prompts='^(\[pacifica: [^]]*\] .*[#$]|outer\$)'
screen() { tmux -S "$top/tmux" capture-pane -p -J -S -5000 -t play | sed 's/ *$//'; }

# The output of the last line typed: what stands between the last two
# prompts.
last_output() { screen | awk -v p="$prompts" '$0 ~ p { n++ } { line[NR] = $0; at[NR] = n } END { for (i = 1; i <= NR; i++) if (at[i] == n - 1 && line[i] !~ p) print line[i] }'; }

# wait_for PATTERN WHAT: the screen's last line matches PATTERN within 30
# seconds, or the test fails saying WHAT did not come.
wait_for() {
	local i
	for ((i = 0; i < 600; i++)); do
		screen | sed '/^$/d' | tail -n 1 | grep -qE -- "$1" && return 0
		sleep 0.05
	done
	screen >&2
	fail "$2 did not come within 30 seconds"
}

# type_back LINE: LINE typed, then the next prompt.
type_back() {
	local before i
	before=$(screen | grep -cE "$prompts")
	tmux -S "$top/tmux" send-keys -t play -l -- "$1"
	tmux -S "$top/tmux" send-keys -t play Enter
	for ((i = 0; i < 600; i++)); do
		[ "$(screen | grep -cE "$prompts")" -gt "$before" ] &&
			screen | sed '/^$/d' | tail -n 1 | grep -qE "$prompts\$" && return 0
		sleep 0.05
	done
	screen >&2
	fail "no prompt within 30 seconds after typing '$1'"
}

# copy_commands: the commands of the last output, as they stand on the
# screen, each on a line of its own, indented; but not the welcome's,
# which are for later, nor the step map's, which are steps.
copy_commands() { last_output | awk '/^The steps of the story;/ { exit } /^    [^ ]/'; }

# Types back every command the last output showed, checking that none of
# them failed, and the commands each of those shows in turn.
type_shown() {
	local cmd cmds
	mapfile -t cmds < <(copy_commands)
	for cmd in "${cmds[@]}"; do
		# The finished game's commands are for after leaving it.
		[ "$(screen | grep -oE '^\[pacifica: [^]]*\]' | tail -n 1)" != '[pacifica: finished]' ] || return 0
		type_back "$cmd"
		typed=$((typed + 1))
		if last_output | grep -E '^(bash|mv|cp|rm|mkdir|cd|ls|cat|chmod): |command not found'; then
			screen >&2; fail "'$cmd', copied from the screen, failed"
		fi
		[ "$typed" -lt 150 ] || fail "no end after $typed commands"
		type_shown
	done
}

terminal_game() {
	local dir="$top/my linux homework for class 3b/pacifica" step=
	mkdir "$top/elsewhere"
	tmux -S "$top/tmux" -f /dev/null new-session -d -s play -x "$1" -y 24 \
		env -u XDG_STATE_HOME -u PACIFICA_GAME HOME="$home" TMPDIR="$top/tmp" PATH="$STAGE/bin:$PATH" \
		PS1='outer$ ' bash --norc --noprofile -i
	tmux -S "$top/tmux" display -p -t play '#{pid}' >"$T/tmux.pid"
	typed=0
	wait_for '^outer\$$' 'the first prompt'
	type_back "pacifica '$dir'"
	# A beginner's mistake, a run outside the game, a line a quote left
	# open, a command in capitals; then the hints, to the end, with a
	# pause in the middle: the game left, and come back to.
	type_back prologue
	type_back 'mkdir pacifica; mv Jean pacifica'
	type_back "cd '$top/elsewhere'"
	type_back resettle
	type_shown
	tmux -S "$top/tmux" send-keys -t play -l "mv 'Pacifica \"Pacifica"
	tmux -S "$top/tmux" send-keys -t play Enter
	wait_for '^\[quote open: close it, or Ctrl-C cancels\] >$' 'the prompt of a line a quote left open'
	tmux -S "$top/tmux" send-keys -t play C-c
	wait_for "$prompts\$" 'a prompt after Ctrl-C'
	type_back RESETTLE
	# The screen's last lines: a command line that fills the terminal's
	# last column is joined to the next by the capture.
	screen | tail -n 4 | tr '\n' ' ' | grep -qF "RESETTLE: command not found. The game's command is resettle, all in small letters." ||
		fail "RESETTLE was not named: $(screen | tail -n 4)"
	while step=$(screen | grep -oE '^\[pacifica: [^]]*\]' | tail -n 1) && [ "$step" != '[pacifica: finished]' ]; do
		if [ "$step" = '[pacifica: raze]' ] && [ ! -s "$T/left" ]; then
			type_back exit; echo left >"$T/left"
			last_output | tr '\n' ' ' | grep -qF "Your game is kept in $dir; this goes on from there: " ||
				fail "no line on leaving that says how to come back: $(last_output)"
			type_shown
			screen | tail -n 30 | grep -qF 'Welcome back to Pacifica.' || fail "the line shown on leaving did not come back to the game"
		fi
		type_back hint
		last_output >>"$T/hints"
		[ -n "$(copy_commands)" ] || { type_back hint; last_output >>"$T/hints"; }
		type_shown
		[ "$typed" -lt 150 ] || fail "no end after $typed commands"
	done
	[ -s "$T/left" ]
	screen | grep -qF 'Great! Now that justice is done'
	# No line of the hints is folded by the terminal but a command.
	awk -v w="$1" 'length > w && !/^    [^ ]/' "$T/hints" | same_bytes /dev/stdin ''
}

@test "a game in a terminal of 80 columns, every command copied from the screen and typed back, comes to its end" {
	terminal_game 80
}

@test "a game in a terminal of 50 columns, every command copied from the screen and typed back, comes to its end" {
	terminal_game 50
}
