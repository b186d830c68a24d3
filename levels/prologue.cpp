// prologue: writes the Jean file and asks the player to take him home.
#include <fcntl.h>
#include <unistd.h>

#include "jean.hpp"
#include "level_kit.hpp"

extern constexpr std::string_view io_error_text =
    "Unable to write to current directory. Perhaps you lack permissions? "
    "Fix this and re-run.";

namespace {

constexpr std::string_view intro_text =
    "I have a friend named Jean who is a long long way from home. He \n"
    "used to live in a subdirectory of here, but then it was deleted \n"
    "in the Great Filesystem Wars. His home was a lovely directory \n"
    "called Pacifica. Can you make it again for him and put him in \n"
    "there? When you've done it, let his family and friends know by \n"
    "telling them that he's home.\n";

}  // namespace

int main()
{
	// O_NONBLOCK: a FIFO named Jean with no reader fails at once.
	int fd = open("Jean", O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
	if (fd < 0)
		handle_io_error();
	// Unbuffered, so that a full disk or a size limit shows here, before
	// the player is told that Jean is there.  A Jean cut short by either
	// holds only what this run wrote, as if it had been emptied first.
	if (!write_all(fd, file_text)) {
		cut_at_offset(fd);
		handle_io_error();
	}
	if (!truncate_rest(fd, file_text.size()))
		handle_io_error();

	put_text(intro_text);
	send();
	close(fd);
	return 0;
}
