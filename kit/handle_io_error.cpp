// Apart from the rest of the kit, so that only the programs that call
// handle_io_error need to define io_error_text.
#include "level_kit.hpp"

#include <cstdlib>

void handle_io_error()
{
	put_line(io_error_text);
	exit(1);
}
