// A growable byte string, for lines and texts put together at run time.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string_view>

struct Buf {
	char *p = nullptr;
	size_t n = 0, cap = 0;
	Buf() = default;
	Buf(const Buf &) = delete;
	Buf &operator=(const Buf &) = delete;
	~Buf();
	Buf &add(std::string_view s);
	Buf &add(char c) { return add(std::string_view(&c, 1)); }
	Buf &num(long v);
	void reserve(size_t want);
	void clear() { n = 0; }
	std::string_view view() const { return {p ? p : "", n}; }
};

// Room in the array p, of cap items, for item n, the array doubled (first
// items at the least) when it is full; out of memory, the program ends.
template <class T> void room_for(T *&p, long n, long &cap, long first = 64)
{
	if (n < cap)
		return;
	long want = cap ? cap * 2 : first;
	void *q = realloc(static_cast<void *>(p), want * sizeof *p);
	if (!q)
		abort();
	p = static_cast<T *>(q), cap = want;
}
