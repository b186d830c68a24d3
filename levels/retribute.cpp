// retribute: the jail must have become the indefinite detention center,
// with the Grob still inside.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "grob.hpp"
#include "level_kit.hpp"

int main()
{
	// Only a jail that opens as a directory still stands.  A plain open,
	// not opendir: nothing is listed, and nothing is left to free.
	bool jail_stands = open("jail", O_RDONLY | O_DIRECTORY | O_NONBLOCK) >= 0;
	int fd = open("indefinite_detention_center/.grob", O_RDONLY | O_NONBLOCK);
	char *record = static_cast<char *>(calloc(grob_record_size, 1));

	if (jail_stands || fd < 0) {
		put_line("The Pacificans are very angry and want the jail to become "
		         "an indefinite_detention_center so they can use advanced "
		         "interrogation techniques against captured Grob.");
		free(record);
		return 0;
	}
	if (record == nullptr || read(fd, record, grob_record_size) < 0) {
		put_line("read error");
		free(record);
		return 1;
	}
	bool right = grob_accepted(record);
	free(record);
	if (!right) {
		put_line("The wrong Grob is in the jail!");
		return 1;
	}
	send();
	put_line("Great! Now that justice is done, we should probably warn the "
	         "Grob about the lack of due process in these parts.");
	return 0;
}
