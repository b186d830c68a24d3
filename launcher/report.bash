# The report: one line per game of the players whose journals it is given,
# for a teacher, as a table or as CSV.  It may run as root over other
# users' homes, so it reads only regular files that belong to the owner of
# the home they lie in, reached through no symbolic link, runs nothing and
# writes nothing, and prints nothing of a journal but what it could read as
# journal lines.
# shellcheck shell=bash

# report_check: from what find says of every path of every place (type,
# uid, login name and path, NUL-terminated), the journals that may be
# read, one a line as JOURNAL TAB PLAYER TAB HOME; a line on standard
# error for each place whose journal may not be read, and status 1.
# The places come in PLACES, one a line as KIND TAB PATH.
report_check() {
	command awk '
	BEGIN {
		n = split(ENVIRON["PLACES"], p, "\n")
		for (i = 1; i <= n; i++) { split(p[i], f, "\t"); kind[i] = f[1]; place[i] = f[2] }
		RS = "\0"
	}
	{
		path = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", path)
		t[path] = $1; u[path] = $2; name[path] = $3
	}
	function refuse(why) { print "pacifica: " why "; not read" > "/dev/stderr"; bad = 1 }
	END {
		for (i = 1; i <= n; i++) {
			pl = place[i]
			if (kind[i] != "home") {
				if (!(pl in t)) refuse("there is no " pl)
				else if (t[pl] != "f") refuse(pl " is not a regular file")
				else print pl "\t" name[pl] "\t" (kind[i] == "own" ? ENVIRON["HOME"] : "")
				continue
			}
			j = pl "/.local/state/pacifica/journal"
			if (!(j in t)) continue
			why = ""
			split(pl "/.local|" pl "/.local/state|" pl "/.local/state/pacifica", dirs, "|")
			for (k = 1; k <= 3; k++)
				if (t[dirs[k]] != "d" || u[dirs[k]] != u[pl]) why = dirs[k] " is not a directory of the owner of " pl
			if (why != "") refuse(why)
			else if (t[j] != "f") refuse(j " is not a regular file")
			else if (u[j] != u[pl]) refuse(j " does not belong to the owner of " pl)
			else print j "\t" name[j] "\t" pl
		}
		exit bad
	}'
}

# report_rows: the games of the journals named in CHECKED (as report_check
# gives them) with their players, sorted by player and directory, then one
# line "skipped TAB COUNT".
report_rows() {
	# A journal swapped for a FIFO since it was looked at must not hang the
	# report for good.
	command timeout 60 awk -v steps="$pacifica_step_names" -v completing="$pacifica_completing" \
		-v programs="$pacifica_programs" -f "$pacifica_share/journal.awk" "$@" |
		command awk '
		BEGIN {
			n = split(ENVIRON["CHECKED"], c, "\n")
			for (i = 1; i <= n; i++) { split(c[i], f, "\t"); player[f[1]] = f[2]; home[f[1]] = f[3] }
			FS = OFS = "\t"
		}
		$1 == "skipped" { skipped += $3; next }
		{ print player[$1], home[$1], $0 }
		END { print "~skipped", skipped + 0 }' |
		LC_ALL=C command sort -t "$(printf '\t')" -k1,1 -k4,4
}

report() {
	local csv='' places=() arg kinds='' paths=() status=0 checked journals=()
	while [ $# -gt 0 ]; do
		case $1 in
		--csv) csv=1 ;;
		--) shift; places+=("$@"); break ;;
		-?*) usage_error "unknown option: $1" ;;
		*) places+=("$1") ;;
		esac
		shift
	done
	if [ "${#places[@]}" = 0 ]; then
		pacifica_find_journal || die "$pacifica_nojournal"
		kinds=own$'\t'$pacifica_journal
		paths=("$pacifica_journal")
		[ -e "$pacifica_journal" ] || paths=()
	fi
	for arg in ${places[@]+"${places[@]}"}; do
		[[ $arg == / ]] || arg=${arg%/}
		[[ $arg == /* ]] || arg=$PWD/$arg
		if [[ $arg == *[$'\t\n']* ]]; then
			pacifica_shown "$arg"
			warn "$REPLY: a name with a tab or a newline; not read"
			status=1
		elif [ -d "$arg" ] && [ ! -L "$arg" ]; then
			kinds+=${kinds:+$'\n'}home$'\t'$arg
			paths+=("$arg" "$arg/.local" "$arg/.local/state" "$arg/.local/state/pacifica" "$arg/.local/state/pacifica/journal")
		else
			kinds+=${kinds:+$'\n'}journal$'\t'$arg
			paths+=("$arg")
		fi
	done
	checked=
	if [ "${#paths[@]}" -gt 0 ]; then
		checked=$(command find "${paths[@]}" -maxdepth 0 -printf '%y %U %u %p\0' 2>/dev/null | PLACES=$kinds report_check) ||
			status=1
	fi
	while IFS=$'\t' read -r arg _; do
		[ -z "$arg" ] || journals+=("$arg")
	done <<<"$checked"
	if [ "${#journals[@]}" -gt 0 ]; then
		CHECKED=$checked report_rows "${journals[@]}"
	else
		echo "~skipped	0"
	fi | if [ -n "$csv" ]; then report_csv; else report_table; fi
	return "$status"
}

# The rows as a table for people, fitting 80 columns where the names let it.
report_table() {
	command awk -F '\t' '
	function played(s) {
		if (s < 60) return "<1m"
		if (s < 3600) return int(s / 60) "m"
		return sprintf("%dh%02d", s / 3600, s % 3600 / 60)
	}
	BEGIN { form = "%-9s %-17s %5s %-9s %4s %-11s %-11s %6s\n"
		printf form, "PLAYER", "GAME", "STEPS", "ON", "RUNS", "BEGAN", "LAST", "PLAYED" }
	$1 == "~skipped" { skipped = $2; next }
	{
		dir = $4
		if ($2 != "" && dir == $2) dir = "~"
		else if ($2 != "" && index(dir, $2 "/") == 1) dir = "~" substr(dir, length($2) + 1)
		printf form, $1, dir, $5 "/" $6, $7, $8, strftime("%m-%d %H:%M", $12), strftime("%m-%d %H:%M", $13), played($11)
		games++; if (!($1 in seen)) { seen[$1] = 1; players++ }
		if ($7 == "finished") finished++
	}
	END {
		printf "%d player%s, %d game%s, %d finished.", players, players == 1 ? "" : "s", games, games == 1 ? "" : "s", finished
		if (skipped) printf "  %d journal line%s could not be read and %s skipped.", skipped, skipped == 1 ? "" : "s", skipped == 1 ? "was" : "were"
		printf "\n"
	}'
}

# The rows as CSV (RFC 4180) for a spreadsheet: times in ISO 8601 UTC,
# durations in seconds.
report_csv() {
	command awk -F '\t' '
	function q(s) {
		if (s !~ /[",\r\n]/) return s
		gsub(/"/, "\"\"", s)
		return "\"" s "\""
	}
	BEGIN { printf "player,directory,steps_done,steps,on,runs_since_step,began,last_activity,played_seconds\r\n" }
	$1 == "~skipped" {
		if ($2) printf "pacifica: %d journal line%s could not be read and %s skipped\n", $2, $2 == 1 ? "" : "s", $2 == 1 ? "was" : "were" > "/dev/stderr"
		next
	}
	{ printf "%s,%s,%d,%d,%s,%d,%s,%s,%d\r\n", q($1), q($4), $5, $6, $7, $8, $9, $10, $11 }'
}
