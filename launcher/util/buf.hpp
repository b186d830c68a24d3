// A growable byte string, for lines and texts put together at run time.
#pragma once

#include <cstddef>
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
