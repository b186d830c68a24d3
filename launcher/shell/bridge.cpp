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

int cmd_bridge(int argc, char **argv)
{
	Game g;
	if (!the_game(g))
		die(no_game);
	// Nothing to confirm before duplicate has delivered the alert in this
	// game: nothing is built, nor recorded.
	int bridge = step_index("bridge"), alert = step_index("duplicate");
	if (g.done[bridge] < 0 && g.done[alert] < 0) {
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
		record_event(record, g.number, "word", "", now);
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
	Buf dir;
	unescape(dir, g.dir.view());
	if (g.done[bridge] >= 0) {
		Buf s;
		s.add(dir.view()).add('/').add(story::stronghold).add('/');
		struct stat st;
		out(stat(s.p, &st) == 0 && S_ISDIR(st.st_mode) ? still_stands : not_again);
		return 0;
	}
	// Built inside the playing directory as it stands, through no link.
	int at = open(dir.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (at < 0) {
		Buf b;
		b.add("confirm_shellwatch_message: your playing directory ");
		shown(b, dir.view());
		b.add(" is gone\n");
		err(b.view());
		return 1;
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
			return 1;
		}
		int next = openat(at, part.p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		close(at);
		if (next < 0) {
			Buf b;
			b.add("confirm_shellwatch_message: ").add(so_far.view()).add(" is in the way of the stronghold; move it aside\n");
			err(b.view());
			return 1;
		}
		at = next;
	}
	close(at);
	record_event(record, g.number, "bridge", "", g);
	out(confirmed);
	next_line(g);
	return 0;
}

