// celebrate: plants the hidden Grob, then judges it moved into jail.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "grob.hpp"
#include "level_kit.hpp"

namespace {

// The jailed Grob's record.  Like every handle of a run it is left for the
// end of the process to release; held here, it is still reachable then.
char *record;

// Puts the Grob record at .grob, over whatever the first bytes were there.
int plant()
{
	// O_NONBLOCK: a FIFO named .grob must not hold the run.
	int fd = open(".grob", O_RDWR | O_CREAT | O_NONBLOCK, 0640);
	if (fd < 0) {
		perror_msg("open() ");
		return 1;
	}
	// The literal's own terminating zero ends the record.
	if (!write_all(fd, std::string_view(contents.data(), grob_record_size))) {
		perror_msg("write");
		close(fd);
		return 1;
	}
	close(fd);
	return 0;
}

// Reads the jailed Grob's record and judges it.
int judge()
{
	int fd = open("jail/.grob", O_RDONLY | O_NONBLOCK);
	if (fd < 0) {
		perror_msg("open ");
		return 1;
	}
	record = static_cast<char *>(calloc(grob_record_size, 1));
	if (record == nullptr) {
		put_line("malloc() failed!!");
		return 1;
	}
	if (read(fd, record, grob_record_size) < 0) {
		perror_msg("read");
		return 1;
	}
	if (!grob_accepted(record)) {
		put_line("The wrong Grob is in jail! Delete it and run me again.");
		return 1;
	}
	send();
	put_line("Now that the Grob is in jail, the Pacificans want retribution "
	         "against it for the terror it caused them.");
	return 0;
}

bool exists(const char *path) { return access(path, F_OK) == 0; }

}  // namespace

int main()
{
	// Every test is made afresh: the player may change the directory
	// between two of them.
	if (!exists(".grob") && !exists("jail")) {
		put_line("You've eradicated the Grob menace from our home!\n");
		put_line("The residents of Pacifica are thrilled. And there is much "
		         "rejoicing. A racous party breaks out. For the first time in "
		         "a while, the residents feel safe and comfortable.\n"
		         "You're being lauded as a hero, and the citizens start to "
		         "demand you give a speech. An impromptu stage is set up and "
		         "everyone starts paying attention to it as you make your way "
		         "up.\n"
		         "Suddenly, there's a commotion in the crowd and a Grob marine "
		         "breaks out from the crowd onto the stage.\n"
		         "\n"
		         "\"Death to the shellwatch scum! You killed my comrades but you "
		         "will never stop me! I will fight until the Grob have "
		         "assimilated you all!\"");
		put_line("The Grob marine disappears into the crowd, and the villagers "
		         "start to panic.\n"
		         "We need to make a jail directory, find the hidden Grob and take "
		         "him there!");
		return plant();
	}
	if (exists(".grob") && !exists("jail")) {
		put_line("The citizens are terrified. The Grob is on the loose and "
		         "there's not even a jail to hold it yet!");
		return plant();
	}
	if (exists(".grob") && exists("jail")) {
		put_line("There's a very nice jail, but the Grob is still loose! For "
		         "the safety of all, please put it in jail!");
		return plant();
	}
	if (!exists(".grob") && exists("jail") && exists("jail/.grob"))
		return judge();
	return plant();
}
