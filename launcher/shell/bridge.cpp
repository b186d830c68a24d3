// The bridge over the step played outside the game: the alert confirmed
// with its word, and the Grob stronghold built in the playing directory,
// once a game.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "record/record.hpp"
#include "shell/verbs.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

constexpr std::string_view no_alert = "confirm_shellwatch_message: no alert has come yet; duplicate brings it";
constexpr std::string_view no_word = "confirm_shellwatch_message: give it a word: the 10th of the alert's message";
constexpr std::string_view many_words = "confirm_shellwatch_message: one word only: the 10th of the alert's message";
constexpr std::string_view not_the_word = ": not the 10th word of the alert's message";
constexpr std::string_view confirmed =
    "Message confirmed.  Shellwatch Command has found the Grob stronghold that the\n"
    "story speaks of: it now stands in your playing directory, a tree of\n"
    "directories starting at yklim_yaw.\n";
constexpr std::string_view still_stands =
    "The Grob stronghold still stands in your playing directory, starting at\nyklim_yaw.\n";
constexpr std::string_view not_again =
    "The alert was confirmed once already in this game; the Grob stronghold is\nnot built again.\n";

}  // namespace

namespace {

// What the bridge found under the record's lock.
enum { built, already, early, failed } outcome;

// The stronghold built inside the playing directory as it stands, through
// no link; false, said, when it cannot be.
bool build(std::string_view escaped_dir)
{
	Buf dir;
	unescape(dir, escaped_dir);
	int at = open(dir.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (at < 0) {
		Buf b;
		b.add("confirm_shellwatch_message: your playing directory ");
		shown(b, dir.view());
		b.add(" is gone\n");
		err(b.view());
		return false;
	}
	std::string_view rest = story::stronghold;
	Buf part, so_far;
	while (!rest.empty()) {
		size_t slash = rest.find('/');
		part.clear();
		part.add(rest.substr(0, slash));
		rest = slash == rest.npos ? std::string_view() : rest.substr(slash + 1);
		so_far.add(so_far.n ? "/" : "").add(part.view());
		if (mkdirat(at, part.p, 0777) != 0 && errno != EEXIST) {
			Buf b;
			b.add("confirm_shellwatch_message: cannot create directory '").add(so_far.view()).add("': ");
			b.add(strerror(errno)).add('\n');
			err(b.view());
			close(at);
			return false;
		}
		int next = openat(at, part.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		close(at);
		if (next < 0) {
			Buf b;
			b.add("confirm_shellwatch_message: ").add(so_far.view()).add(" is in the way of the stronghold; move it aside\n");
			err(b.view());
			return false;
		}
		at = next;
	}
	close(at);
	return true;
}

// Whether the alert that the bridge confirms has come in this game: the
// step that the story's table says the bridge needs is done.
bool alert_came(const Game &g)
{
	int needs = step_index(story::steps[step_index("bridge")].needs);
	return needs < 0 || g.done[needs] >= 0;
}

// Under the lock, so that two confirmations at once build and count once,
// and none before the alert.
bool build_once(const Game &before, Game &)
{
	outcome = before.done[step_index("bridge")] >= 0 ? already
	          : !alert_came(before)                  ? early
	          : build(before.dir.view())            ? built
	                                                 : failed;
	return outcome == built;
}

}  // namespace

int cmd_bridge(int argc, char **argv)
{
	Game g;
	if (!the_game(g))
		die(no_game);
	// Nothing to confirm before duplicate has delivered the alert in this
	// game: nothing is built, nor recorded, not even a wrong word.
	if (g.done[step_index("bridge")] < 0 && !alert_came(g)) {
		Buf text;
		wrap(text, text_width(2), no_alert);
		err(text.add('\n').view());
		return 1;
	}
	Buf word;
	if (argc == 2)
		for (const char *c = argv[1]; *c; c++)
			word.add(*c >= 'A' && *c <= 'Z' ? char(*c - 'A' + 'a') : *c);
	if (argc != 2 || word.view() != story::word) {
		Game now;
		record_event(g.number, "word", "", now);
		Buf b, given;
		if (argc == 2) {
			std::string_view w = argv[1];
			given.add('"').add(w.size() > 24 ? w.substr(0, 20) : w).add(w.size() > 24 ? "...\"" : "\"");
			b.add("confirm_shellwatch_message: ");
			shown(b, given.view());
			b.add(not_the_word);
		}
		Buf text;
		wrap(text, text_width(2), argc < 2 ? no_word : argc > 2 ? many_words : b.view());
		err(text.add('\n').view());
		return 1;
	}
	outcome = failed;
	bool recorded = record_event(g.number, "bridge", "", g, {}, build_once);
	if (outcome == already) {
		Buf dir, s;
		unescape(dir, g.dir.view());
		s.add(dir.view()).add('/').add(story::stronghold).add('/');
		struct stat st;
		out(stat(s.p, &st) == 0 && S_ISDIR(st.st_mode) ? still_stands : not_again);
		return 0;
	}
	if (outcome == early) {
		Buf text;
		wrap(text, text_width(2), no_alert);
		err(text.add('\n').view());
	}
	if (outcome == early || outcome == failed)
		return 1;
	out(confirmed);
	if (recorded)
		next_line(g);
	return 0;
}
