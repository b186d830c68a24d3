// Who the students are: the password database, read once, and the
// roster a teacher gives, as a file of logins or a group.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "report/report.hpp"
#include "util/names.hpp"
#include "util/out.hpp"

namespace {

struct Users {
	User *by_uid = nullptr;
	User **by_login = nullptr;
	long n = 0;
	bool read = false;
	~Users()
	{
		for (long i = 0; i < n; i++)
			free(by_uid[i].login), free(by_uid[i].name), free(by_uid[i].dir);
		free(by_uid);
		free(by_login);
	}
} users;

char *copy(const char *s, size_t len)
{
	char *p = static_cast<char *>(malloc(len + 1));
	if (!p)
		abort();
	memcpy(p, s, len);
	p[len] = '\0';
	return p;
}

int uid_order(const void *a, const void *b)
{
	uid_t x = static_cast<const User *>(a)->uid, y = static_cast<const User *>(b)->uid;
	return x < y ? -1 : x > y;
}

int login_order(const void *a, const void *b)
{
	return strcmp((*static_cast<User *const *>(a))->login, (*static_cast<User *const *>(b))->login);
}

void read_users()
{
	if (users.read)
		return;
	users.read = true;
	long cap = 0;
	setpwent();
	while (struct passwd *pw = getpwent()) {
		room_for(users.by_uid, users.n, cap, 256);
		const char *gecos = pw->pw_gecos ? pw->pw_gecos : "";
		users.by_uid[users.n++] = {pw->pw_uid, pw->pw_gid, copy(pw->pw_name, strlen(pw->pw_name)),
		                           copy(gecos, strcspn(gecos, ",")), copy(pw->pw_dir, strlen(pw->pw_dir))};
	}
	endpwent();
	if (users.n > 1)
		qsort(users.by_uid, users.n, sizeof(User), uid_order);
	users.by_login = static_cast<User **>(malloc((users.n + 1) * sizeof(User *)));
	if (!users.by_login)
		abort();
	for (long i = 0; i < users.n; i++)
		users.by_login[i] = &users.by_uid[i];
	if (users.n > 1)
		qsort(users.by_login, users.n, sizeof(User *), login_order);
}

}  // namespace

const User *user_of(uid_t uid)
{
	read_users();
	User key = {uid, 0, nullptr, nullptr, nullptr};
	return static_cast<const User *>(bsearch(&key, users.by_uid, users.n, sizeof(User), uid_order));
}

const User *user_named(const char *login)
{
	read_users();
	User key = {0, 0, const_cast<char *>(login), nullptr, nullptr}, *k = &key;
	void *found = bsearch(&k, users.by_login, users.n, sizeof(User *), login_order);
	return found ? *static_cast<User **>(found) : nullptr;
}

Roster::~Roster()
{
	for (long i = 0; i < n; i++)
		login[i].~Buf();
	free(login);
}

void Roster::add(std::string_view name)
{
	room_for(login, n, cap);
	new (&login[n++]) Buf;
	login[n - 1].add(name);
}

bool read_roster(Roster &roster, const char *file)
{
	roster.given = true;
	int fd = open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	Buf text;
	char b[65536];
	ssize_t got = -1;
	if (fd >= 0 && fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
		while ((got = read(fd, b, sizeof b)) > 0)
			text.add(std::string_view(b, got));
	int saved = fd < 0 || got < 0 ? errno : 0;
	if (fd >= 0)
		close(fd);
	if (saved || got < 0) {
		Buf name;
		shown(name, file);
		warn(Buf().add("cannot read the roster ").add(name.view()).add(": ").add(strerror(saved ? saved : EISDIR)).view());
		return false;
	}
	std::string_view all = text.view();
	while (!all.empty()) {
		size_t nl = all.find('\n');
		std::string_view line = all.substr(0, nl);
		all = nl == all.npos ? std::string_view() : all.substr(nl + 1);
		while (!line.empty() && strchr(" \t\r", line.back()))
			line.remove_suffix(1);
		while (!line.empty() && strchr(" \t", line.front()))
			line.remove_prefix(1);
		if (!line.empty() && line[0] != '#')
			roster.add(line);
	}
	return true;
}

bool read_group(Roster &roster, const char *name)
{
	roster.given = true;
	struct group *gr = getgrnam(name);
	if (!gr) {
		Buf shown_name;
		shown(shown_name, name);
		warn(Buf().add("there is no group ").add(shown_name.view()).view());
		return false;
	}
	gid_t gid = gr->gr_gid;
	for (char **m = gr->gr_mem; *m; m++)
		roster.add(*m);
	read_users();
	for (long i = 0; i < users.n; i++)
		if (users.by_uid[i].gid == gid)
			roster.add(users.by_uid[i].login);
	return true;
}

namespace {

int by_login(const void *a, const void *b)
{
	return order(static_cast<const Buf *>(a)->view(), static_cast<const Buf *>(b)->view());
}

}  // namespace

void Roster::sort()
{
	// qsort takes no null array, even of no items.
	if (n > 1)
		qsort(login, n, sizeof(Buf), by_login);
	long k = 0;
	for (long i = 0; i < n; i++)
		if (k == 0 || login[i].view() != login[k - 1].view()) {
			if (k != i) {
				login[k].clear();
				login[k].add(login[i].view());
			}
			k++;
		}
	for (long i = k; i < n; i++)
		login[i].~Buf();
	n = k;
}

bool Roster::has(std::string_view name) const
{
	Buf key;
	key.add(name);
	return bsearch(&key, login, n, sizeof(Buf), by_login) != nullptr;
}

bool keep_roster(Rows &rows, Roster &roster, std::string_view host)
{
	roster.sort();
	long games = rows.n;
	bool all = true;
	for (long i = 0, j = 0; i < roster.n; i++) {
		std::string_view login = roster.login[i].view();
		while (j < games && order(rows.r[j]->player.view(), login) < 0)
			j++;
		if (j < games && rows.r[j]->player.view() == login)
			continue;
		// A login that names no one is no student who has not begun.
		if (!user_named(roster.login[i].p)) {
			Buf name;
			shown(name, login);
			warn(Buf().add(name.view()).add(" of the roster is no user of this machine, and has no game").view());
			all = false;
			continue;
		}
		Row &r = rows.add();
		r.player.add(login);
		r.host.add(host);
		r.begun = false;
	}
	for (long i = 0; i < games; i++)
		if (!roster.has(rows.r[i]->player.view()))
			rows.drop(i);
	rows.compact();
	return all;
}

void full_name(Buf &to, std::string_view login)
{
	Buf key;
	key.add(login);
	const User *u = user_named(key.p);
	to.add(u && u->name[0] ? std::string_view(u->name) : login);
}

