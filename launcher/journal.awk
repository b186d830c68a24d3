# Reads journals and tells, for each game in them, how far it has come.
#
#   awk -v steps="prologue resettle ..." -v completing="prologue:briefing ..."
#       -v programs="prologue ..." [-v game=DIR] -f journal.awk JOURNAL...
#
# A journal line is: time (UTC, ISO 8601), TAB, playing directory (control
# characters and backslashes escaped), TAB, event [, TAB, detail].  Lines
# that are not that, or that belong to no game begun before them, are
# skipped and counted.  With game set, prints that game alone as
#   ndone|current|runs|played|done-list|known|last
# (the last answer, PROGRAM:KEY)
# otherwise one line per game (file, dir, ndone, nsteps, current, runs,
# began, last, played, then began and last in seconds since the epoch),
# then per journal "skipped", file, count.

function epoch(s,    y, m, d, era, yoe, doy) {
	y = substr(s, 1, 4) + 0; m = substr(s, 6, 2) + 0; d = substr(s, 9, 2) + 0
	if (m <= 2) y--
	era = int(y / 400); yoe = y - era * 400
	doy = int((153 * ((m + 9) % 12) + 2) / 5) + d - 1
	return ((era * 146097 + yoe * 365 + int(yoe / 4) - int(yoe / 100) + doy - 719468) * 86400 \
		+ substr(s, 12, 2) * 3600 + substr(s, 15, 2) * 60 + substr(s, 18, 2))
}

function session_end(k, t) {
	if (open[k] != "" && t > open[k]) played[k] += t - open[k]
	open[k] = ""
}

function step_done(k, s) {
	if (!((k, s) in done)) { done[k, s] = 1; runs[k] = 0 }
}

BEGIN {
	FS = "\t"
	nsteps = split(steps, order, " ")
	n = split(completing, c, " "); for (i = 1; i <= n; i++) completes[c[i]] = 1
	n = split(programs, c, " "); for (i = 1; i <= n; i++) program[c[i]] = 1
	split("begun taken resumed left bridge aside", c, " "); for (i in c) plain[c[i]] = 1
	stamp = "^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z$"
}

FNR == 1 { files[++nfiles] = FILENAME; skipped[FILENAME] = 0 }

{
	if (index($0, "\0") || $0 ~ /[\001-\010\012-\037\177]/ || $1 !~ stamp || $2 !~ /^\// ||
	    !(NF == 3 && ($3 in plain) && $3 != "aside" || NF == 4 && ($3 == "aside" && $4 ~ /^\// ||
	      ($3 in program) && $4 ~ /^[a-z]+$/))) {
		skipped[FILENAME]++
		next
	}
	if (game != "" && $2 != game) next
	# One game's journal may come in parts (a file and the lines of this
	# session that could not be written to it): they are read as one.
	k = (game != "" ? "" : FILENAME) SUBSEP $2
	t = epoch($1)
	if ($3 == "begun" || $3 == "taken") {
		if (k in known) session_end(k, last[k])
		for (i = 1; i <= nsteps; i++) delete done[k, order[i]]
		known[k] = 1; dir[k] = $2; file[k] = FILENAME
		began[k] = $1; played[k] = 0; runs[k] = 0; open[k] = t; last[k] = t; lastiso[k] = $1
		taken[k] = $3 == "taken"; lastrun[k] = ""
		next
	}
	if (!(k in known)) { skipped[FILENAME]++; next }
	previous = last[k]
	if (t > last[k]) { last[k] = t; lastiso[k] = $1 }
	if ($3 == "resumed") { session_end(k, previous); open[k] = t }
	else if ($3 == "left") session_end(k, t)
	else if ($3 == "bridge") step_done(k, "bridge")
	else if ($3 == "aside") delete known[k]
	else {
		runs[k]++; lastrun[k] = $3 ":" $4
		if (($3 ":" $4) in completes && ($3 != "raze" || (k, "bridge") in done))
			step_done(k, $3)
	}
}

# A game taken over from a version that kept no journal counts every step
# before the furthest one done as done.
function progress(k,    i, far) {
	if (taken[k])
		for (i = nsteps; i >= 1; i--) {
			if ((k, order[i]) in done) far = 1
			else if (far) done[k, order[i]] = 1
		}
	ndone = 0; current = ""; list = ""
	for (i = 1; i <= nsteps; i++)
		if ((k, order[i]) in done) { ndone++; list = list (list == "" ? "" : ",") order[i] }
		else if (current == "") current = order[i]
	if (current == "") current = "finished"
	if (open[k] != "" && last[k] > open[k]) played[k] += last[k] - open[k]
}

END {
	if (game != "") {
		k = SUBSEP game
		if (k in known) {
			progress(k)
			printf "%d|%s|%d|%d|%s|known|%s\n", ndone, current, runs[k], played[k], list, lastrun[k]
		}
		else printf "0|prologue|0|0|||\n"
		exit
	}
	for (k in known) {
		progress(k)
		printf "%s\t%s\t%d\t%d\t%s\t%d\t%s\t%s\t%d\t%d\t%d\n", file[k], dir[k], ndone, nsteps, current,
			runs[k], began[k], lastiso[k], played[k], epoch(began[k]), last[k]
	}
	for (f = 1; f <= nfiles; f++) printf "skipped\t%s\t%d\n", files[f], skipped[files[f]]
}
