// duplicate: a true copy of Jean must stand at ./Pacifica_Copy/Jean; then
// the Grob are sighted and the alert file arrives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "level_kit.hpp"

namespace {

constexpr size_t buf_size = 256;

// At file scope, so that main holds no array or lent local that a
// hardened build would guard with a canary: its check costs a symbol
// version at start.
char first_line[buf_size], backup_line[buf_size];
struct stat first, backup;

constexpr const char alert_name[] = "emergenETALIMISSAm-_sion.txt";

constexpr std::string_view wheres_jean =
    "Where is Jean? If you completed the first part of the puzzle pack in a\n"
    "different directory, please move Pacifica into the current directory.";

constexpr std::string_view jean_scared =
    "Jean is very worried! Please make a backup copy of him in a Pacifica_Copy\n"
    "directory so he can be safe and sound in both places.";

constexpr std::string_view jean_still_scared =
    "You made a symbolic link to Jean! Unfortunately, if Jean is lost, the\n"
    "link will be useless. Please make sure identical copies of him are at\n"
    "both places.";

constexpr std::string_view jean_not_copy =
    "One of these Jeans seems to be an imperfect clone of the other! Please\n"
    "make sure identical copies of him are at both places.";

constexpr std::string_view urgent_alert =
    "URGENT INCOMING MESSAGE FROM SHELLWATCH COMMAND!\n"
    "To the citizens of Pacifica:\n"
    "A malicious ship is approaching quickly. Details are in a file we've\n"
    "downloaded to your current directory. The filename probably got garbled\n"
    "during transmission, but you must find it and examine its contents if you\n"
    "wish to survive!";

constexpr std::string_view detail_alert =
    "An incoming ship from the Grob Evitcelloc is headed towards your planet.\n"
    "The Grobs are equipped with dangerous technology designed to disorient you\n"
    "and make you feel lost and confused. Caution is #SDE%L(. Make sure you keep\n"
    "aware of where you are and remember to $#@FDE#*)---!!!\n"
    "As part of standard Shellwatch proc$#ure, please confirm receipt of this\n"
    "message by running 'confirm_shellwatch_message' with the 10th word of this\n"
    "message as an argument.";

// The first line of the regular file at path, cut at its first zero byte;
// -1 when it cannot be read.
ssize_t copy_line(const char *path, char (&line)[buf_size])
{
	int fd = open(path, O_RDONLY | O_NONBLOCK);
	if (fd < 0)
		return -1;
	ssize_t len = read_first_line(fd, line, sizeof line);
	if (len < 0)
		return -1;
	auto zero = static_cast<const char *>(memchr(line, '\0', len));
	return zero ? zero - line : len;
}

}  // namespace

int main()
{
	bool has_first = lstat("./Pacifica/Jean", &first) == 0;
	bool has_backup = lstat("./Pacifica_Copy/Jean", &backup) == 0;

	if (!has_first && !has_backup) {
		put_line(wheres_jean);
		return 0;
	}
	if (!has_first || !has_backup) {
		put_line(jean_scared);
		return 0;
	}
	if (S_ISLNK(first.st_mode) || S_ISLNK(backup.st_mode)) {
		put_line(jean_still_scared);
		return 0;
	}

	// A directory, a FIFO or a device has no first line to compare.
	if (!S_ISREG(first.st_mode) || !S_ISREG(backup.st_mode)) {
		put_line(jean_not_copy);
		return 0;
	}
	ssize_t first_len = copy_line("./Pacifica/Jean", first_line);
	ssize_t backup_len = copy_line("./Pacifica_Copy/Jean", backup_line);
	if (first_len < 0 || backup_len < 0 ||
	    !same_bytes(std::string_view(first_line, first_len),
	                std::string_view(backup_line, backup_len))) {
		put_line(jean_not_copy);
		return 0;
	}

	send();
	put_line(urgent_alert);
	// A player sent to look for a file must find it there: an alert that
	// could not be written fails the run.
	int fd = open(alert_name, O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
	if (fd < 0) {
		perror_msg(alert_name);
		return 1;
	}
	// An alert cut short holds only what this run wrote.
	if (!write_line(fd, detail_alert)) {
		cut_at_offset(fd);
		perror_msg(alert_name);
		return 1;
	}
	if (!truncate_rest(fd, detail_alert.size() + 1) || close(fd) < 0) {
		perror_msg(alert_name);
		return 1;
	}
	return 0;
}
