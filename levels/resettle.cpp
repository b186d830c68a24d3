// resettle: Jean must have moved, unchanged, to ./Pacifica/Jean.
#include <fcntl.h>

#include "jean.hpp"
#include "level_kit.hpp"

namespace {

constexpr size_t buf_size = 256;

// At file scope, so that main holds no array that a hardened build would
// guard with a canary: its check costs a symbol version at start.
char line[buf_size];

constexpr std::string_view intro_text =
    "Jean is concerned about a rekindling of hostilities in the Wars,\n"
    "and wants himself backed up in case anything bad happens to Pacifica.\n"
    "Make a Pacifica_Copy directory and copy Jean to it so that he's safely\n"
    "in both places. Then, tell us that Jean is safe.\n";

}  // namespace

int main()
{
	// Anything that opens, even a directory, is a Jean left behind.
	bool left_behind = open("Jean", O_RDONLY | O_NONBLOCK) >= 0;

	ssize_t len = 0;
	int fd = open("./Pacifica/Jean", O_RDONLY | O_NONBLOCK);
	if (fd >= 0 && (len = read_first_line(fd, line, sizeof line)) < 0)
		len = 0;

	if (!left_behind && same_bytes(std::string_view(line, len), file_text)) {
		send();
		put_text(intro_text);
		return 0;
	}
	put_line("Liar! Jean is not home!");
	put_line("He belongs in ./Pacifica/Jean, and nowhere else.");
	return 1;
}
