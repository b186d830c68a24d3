// retribute: the jail must have become the indefinite detention center,
// with the Grob still inside.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "grob.hpp"
#include "level_kit.hpp"

namespace {

// The Grob's record.  Like every handle of a run it is left for the end of
// the process to release; held here, it is still reachable then.
char *record;

}  // namespace

int main()
{
	// Only a jail that opens as a directory still stands.  A plain open
	// rather than opendir: nothing is listed, so no stream is allocated.
	bool jail_stands = open("jail", O_RDONLY | O_DIRECTORY | O_NONBLOCK) >= 0;
	int fd = open("indefinite_detention_center/.grob", O_RDONLY | O_NONBLOCK);
	record = static_cast<char *>(calloc(grob_record_size, 1));

	if (jail_stands || fd < 0) {
		put_line("The Pacificans are very angry and want the jail to become "
		         "an indefinite_detention_center so they can use advanced "
		         "interrogation techniques against captured Grob.");
		return 0;
	}
	if (record == nullptr || read(fd, record, grob_record_size) < 0) {
		put_line("read error");
		return 1;
	}
	if (!grob_accepted(record)) {
		put_line("The wrong Grob is in the jail!");
		return 1;
	}
	send();
	put_line("Great! Now that justice is done, we should probably warn the "
	         "Grob about the lack of due process in these parts.");
	return 0;
}
