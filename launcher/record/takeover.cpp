// Taking over the state of earlier versions into a new record: the
// journal of lines TIME TAB DIR TAB EVENT [TAB DETAIL], and version
// 1.0.0's lists of the games it began ("games") and of those whose
// stronghold it built ("strongholds").  Each game becomes one line
// "taken" with its state as those files give it, its steps marked as not
// witnessed by the recorder.  The files are removed once the record holds
// them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <new>

#include "record/record.hpp"
#include "util/names.hpp"
#include "util/stamp.hpp"

namespace {

// Files larger than this are no journal that a game wrote.
constexpr off_t old_bound = 64 << 20;

struct Games {
	Game **g = nullptr;
	bool *from_list = nullptr;
	long n = 0;
	Games() = default;
	Games(const Games &) = delete;
	Games &operator=(const Games &) = delete;
	~Games()
	{
		for (long i = 0; i < n; i++) {
			g[i]->~Game();
			free(g[i]);
		}
		free(g), free(from_list);
	}
	Game *find(std::string_view dir)
	{
		for (long i = n - 1; i >= 0; i--)
			if (g[i]->dir.view() == dir && g[i]->number > 0)
				return g[i];
		return nullptr;
	}
	long index(const Game *q) const
	{
		for (long i = 0; i < n; i++)
			if (g[i] == q)
				return i;
		return -1;
	}
	Game *add(std::string_view dir, time_t t, bool listed)
	{
		Game **q = static_cast<Game **>(realloc(g, (n + 1) * sizeof *g));
		bool *l = static_cast<bool *>(realloc(from_list, (n + 1) * sizeof *l));
		Game *one = static_cast<Game *>(calloc(1, sizeof(Game)));
		if (!q || !l || !one)
			abort();
		g = q, from_list = l;
		g[n] = new (one) Game();
		new_game(*g[n], n + 1, dir, t);
		from_list[n] = listed;
		return g[n++];
	}
};

// The whole of a regular file below at, or false.
bool slurp(int at, const char *name, Buf &to)
{
	int fd = openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	if (fd < 0)
		return false;
	bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() && st.st_size <= old_bound;
	char b[65536];
	for (ssize_t n; ok && (n = read(fd, b, sizeof b)) > 0;)
		to.add(std::string_view(b, n));
	close(fd);
	return ok;
}

// Each line, a last one cut short too.
template <class F> void lines(std::string_view s, F fn)
{
	while (!s.empty()) {
		size_t nl = s.find('\n');
		fn(s.substr(0, nl));
		s.remove_prefix(nl == s.npos ? s.size() : nl + 1);
	}
}

std::string_view field(std::string_view &s)
{
	size_t at = s.find('\t');
	std::string_view f = s.substr(0, at);
	s = at == s.npos ? std::string_view() : s.substr(at + 1);
	return f;
}

bool plain_word(std::string_view s)
{
	if (s.empty() || s.size() > 20)
		return false;
	for (char c : s)
		if (c < 'a' || c > 'z')
			return false;
	return true;
}

void fold_journal(Games &games, std::string_view text)
{
	lines(text, [&](std::string_view line) {
		std::string_view s = line, when = field(s), dir = field(s), event = field(s), detail = field(s);
		time_t t;
		if (!s.empty() || !parse_stamp(when, t) || dir.empty() || dir[0] != '/' || dir.size() > 2048)
			return;
		for (char c : line)
			if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
				return;
		if (event == "begun" || event == "taken") {
			if (Game *old = games.find(dir))
				old->number = -old->number;	// begun again: the old one is gone
			games.add(dir, t, event == "taken");
			return;
		}
		Game *g = games.find(dir);
		if (!g)
			return;
		if (event == "aside" && detail.size() > 1 && detail[0] == '/') {
			apply(*g, t, "aside", detail);
		} else if (event == "resumed" || event == "left" || event == "bridge") {
			apply(*g, t, event, "");
		} else if (plain_word(event) && plain_word(detail)) {
			apply(*g, t, event, detail);
		}
	});
}

// A 1.0.0 list: one directory a line, as the old game wrote it.
void fold_list(Games &games, std::string_view text, bool strongholds, time_t now)
{
	lines(text, [&](std::string_view dir) {
		if (dir.empty() || dir[0] != '/' || dir.size() > 2048)
			return;
		for (char c : dir)
			if (static_cast<unsigned char>(c) < 0x20)
				return;
		Buf esc;
		escape(esc, dir);
		Game *g = games.find(esc.view());
		if (!strongholds && !g)
			games.add(esc.view(), now, true);
		else if (strongholds && g && games.from_list[games.index(g)])
			// The stronghold stood once the alert was confirmed, and the
			// steps before it were done too.
			for (int s = 0; s <= step_index("bridge"); s++)
				if (g->done[s] < 0)
					g->done[s] = 0;
	});
}

}  // namespace

void take_over(int statefd)
{
	Buf journal, list, built;
	Games games;
	time_t now = time(nullptr);
	bool have_journal = slurp(statefd, "journal", journal);
	bool have_list = slurp(statefd, "games", list);
	if (have_list)
		slurp(statefd, "strongholds", built);
	if (!have_journal && !have_list)
		return;
	fold_journal(games, journal.view());
	fold_list(games, list.view(), false, now);
	fold_list(games, built.view(), true, now);
	Buf lines;
	long number = 0;
	for (long i = 0; i < games.n && number < most_games; i++) {
		Game &g = *games.g[i];
		if (g.number <= 0)
			continue;
		// A game of a version that kept no journal of its runs has done
		// every step before the furthest one it is known to have done.
		int furthest = -1;
		for (int s = 0; s < story::nsteps; s++)
			if (g.done[s] >= 0)
				furthest = s;
		for (int s = 0; s <= furthest; s++) {
			if (g.done[s] < 0 && games.from_list[i])
				g.done[s] = g.done[furthest];
			g.taken[s] = g.done[s] >= 0;
		}
		g.number = ++number;
		g.games = number;
		format_line(lines, now, g, "taken", games.from_list[i] ? "list" : "journal");
	}
	if (append_taken(lines.view())) {
		unlinkat(statefd, "journal", 0);
		unlinkat(statefd, "games", 0);
		unlinkat(statefd, "strongholds", 0);
	}
}
