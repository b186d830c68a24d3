#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "util/conf.hpp"
#include "util/out.hpp"

Buf recorder, libexec, share, conf;

// The game's programs and files, found from where this program lies.
void find_files()
{
	char self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n <= 0)
		die("cannot find where the game lies: /proc/self/exe");
	self[n] = '\0';
	recorder.add(self);
	*strrchr(self, '/') = '\0';
	libexec.add(self).add("/" PACIFICA_LIBEXEC_REL);
	share.add(self).add("/" PACIFICA_SHARE_REL);
	conf.add(self).add("/" PACIFICA_CONF_REL);
}

// The machine's settings, by a teacher, in lines "NAME = VALUE"; other
// lines are ignored.
bool setting_in(std::string_view all, std::string_view name, Buf &value)
{
	auto trim = [](std::string_view s) {
		while (!s.empty() && strchr(" \t\r", s.front()))
			s.remove_prefix(1);
		while (!s.empty() && strchr(" \t\r", s.back()))
			s.remove_suffix(1);
		return s;
	};
	while (!all.empty()) {
		size_t nl = all.find('\n');
		std::string_view line = all.substr(0, nl);
		all = nl == all.npos ? std::string_view() : all.substr(nl + 1);
		size_t eq = line.find('=');
		if (eq == line.npos || trim(line.substr(0, eq)) != name)
			continue;
		value.clear();
		value.add(trim(line.substr(eq + 1)));
		return true;
	}
	return false;
}

// A setting that grants a privilege is taken only from a file that root
// keeps and no one else may write.
bool setting(std::string_view name, Buf &value, bool privileged)
{
	int fd = open(conf.p, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	if (fd < 0)
		return false;
	Buf text;
	char b[4096];
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (!privileged || (st.st_uid == 0 && (st.st_mode & 022) == 0)))
		for (ssize_t n; text.n < (1 << 20) && (n = read(fd, b, sizeof b)) > 0;)
			text.add(std::string_view(b, n));
	close(fd);
	return setting_in(text.view(), name, value);
}
