# How the benchmarks count, sourced by each.
# shellcheck shell=bash
#
# Instructions are counted by callgrind over every process a command
# starts (--trace-children=yes), summed.  A process image writes its
# counts when it ends; so that what comes before an exec is not lost with
# the old image, each process also writes them before every execve (the
# new image counts from zero), and before every fork or spawn, so that a
# child, which starts with its parent's counts, starts from zero and
# nothing is counted twice.  Every dump of every process goes through one
# FIFO (--combine-dumps=yes), and the "totals:" of every dump are summed.
# Only the program is counted, not the kernel: callgrind counts user-space
# instructions.  A set-group-id program cannot be entered by callgrind, so
# instructions are counted in home mode only; the class record is measured
# by wall time.
#
# Wall times are medians of runs taken in turns (the one measured first
# changing every time), so that what the machine does meanwhile falls on
# both alike.

export LC_ALL=C

# instructions COMMAND...: the instructions of COMMAND and every process it
# starts, with standard input from $input (default /dev/null), valgrind
# started through the words of valgrind_env (for instance env -i).
valgrind_env=()
instructions() {
	local fifo=$work/callgrind.fifo reader
	rm -f "$fifo" "$work/callgrind.sum"
	mkfifo "$fifo"
	awk '/^totals:/ { n += $2 } END { printf "%d\n", n }' <"$fifo" >"$work/callgrind.sum" &
	reader=$!
	# Held open, so that the reader sees no end between one process's dump
	# and the next one's.
	exec 9>"$fifo"
	"${valgrind_env[@]}" valgrind --tool=callgrind --trace-children=yes --combine-dumps=yes \
		--dump-before='*execve*' --dump-before='*fork' --dump-before='*spawn*' \
		--callgrind-out-file="$fifo" --log-file=/dev/null "$@" <"${input:-/dev/null}" >/dev/null 2>&1 9>&- || :
	exec 9>&-
	wait "$reader"
	cat "$work/callgrind.sum"
}

# median FILE: the median of the numbers in FILE, one a line, to a whole
# number.
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { printf "%d\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# figure WHAT VALUE BASE UNIT [GOAL]: a line of the table, VALUE beside
# what it is compared with, the ratio and the goal for it (GOAL: the
# greatest ratio that meets it; none, for a figure that only informs).
figure() {
	awk -v w="$1" -v v="$2" -v b="$3" -v u="$4" -v g="${5-}" 'BEGIN {
		# A difference of medians below zero is noise larger than it.
		if (v <= 0 || b <= 0) {
			printf "%-24s %12d %12d %-5s   too noisy to compare\n", w, v, b, u
			exit
		}
		r = v / b
		printf "%-24s %12d %12d %-5s %6.2fx", w, v, b, u, r
		if (g != "")
			printf "  goal <= %.2fx  %s", g, r <= g ? "met" : "NOT MET"
		printf "\n"
	}'
}
figure_head() { printf '%-24s %12s %12s %-5s %7s\n' "$1" measured against unit ratio; }

# The machine the figures come from, and how busy it was.
machine() { echo "$(nproc) cores, load average $(cut -d ' ' -f 1-3 /proc/loadavg) at the start"; }
