#include <cstdlib>
#include <cstring>

#include "util/buf.hpp"

Buf::~Buf() { free(p); }

void Buf::reserve(size_t want)
{
	if (want + 1 <= cap)
		return;
	size_t grown = cap ? cap : 64;
	while (grown < want + 1)
		grown *= 2;
	char *q = static_cast<char *>(realloc(p, grown));
	if (!q)
		abort();
	p = q, cap = grown;
}

Buf &Buf::add(std::string_view s)
{
	reserve(n + s.size());
	if (!s.empty())
		memcpy(p + n, s.data(), s.size());
	n += s.size();
	p[n] = '\0';
	return *this;
}

Buf &Buf::num(long v)
{
	char d[24];
	int i = sizeof d;
	bool minus = v < 0;
	unsigned long u = minus ? -static_cast<unsigned long>(v) : v;
	do
		d[--i] = '0' + u % 10;
	while (u /= 10);
	if (minus)
		d[--i] = '-';
	return add(std::string_view(d + i, sizeof d - i));
}

// std::string_view::substr reports a start past the end through this
// libstdc++ function; none of the recorder's calls can, and defining it
// here keeps the recorder off libstdc++, whose loading would cost more
// than the rest of a run.
namespace std {
[[noreturn]] void __throw_out_of_range_fmt(const char *, ...) { abort(); }
}  // namespace std
