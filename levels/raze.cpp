// raze: the Grob stronghold the player escaped from must be deleted.
#include <unistd.h>

#include "level_kit.hpp"

int main()
{
	// The final slash makes the path exist only as a directory.
	if (access("yklim_yaw/atled_tnardauq/societies/sevitcelloc/grob/", F_OK) != 0) {
		send();
		put_line("Hooray! You defeated the Grob! Time to celebrate!");
		return 0;
	}
	put_line("The directory structure you just escaped from (starting from "
	         "\"yklim_yaw/atled_tnardauq/societies/sevitcelloc/grob\") is a "
	         "Grob stronghold. If we are to be safe, it *must* be deleted!");
	return 0;
}
