#include <cstring>

#include "util/names.hpp"

static bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Whether s reaches a terminal as it reads: UTF-8 with no control
// character (C0 or C1) and none of the marks that turn text right to left.
bool printable(std::string_view s)
{
	for (size_t i = 0; i < s.size();) {
		unsigned char c = s[i];
		if (c < 0x80) {
			if (is_control(c))
				return false;
			i++;
			continue;
		}
		int len = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
		if (len == 0 || i + len > s.size())
			return false;
		unsigned long cp = c & (0x7f >> len);
		for (int k = 1; k < len; k++) {
			unsigned char d = s[i + k];
			if ((d & 0xc0) != 0x80)
				return false;
			cp = cp << 6 | (d & 0x3f);
		}
		if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
		    (cp >= 0xd800 && cp <= 0xdfff) || cp <= 0x9f || cp == 0x61c || cp == 0x200e || cp == 0x200f ||
		    (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069))
			return false;
		i += len;
	}
	return true;
}

void shown(Buf &to, std::string_view s)
{
	if (printable(s)) {
		to.add(s);
		return;
	}
	to.add("$'");
	for (unsigned char c : s) {
		const char *e = nullptr;
		switch (c) {
		case '\a': e = "\\a"; break;
		case '\b': e = "\\b"; break;
		case '\033': e = "\\E"; break;
		case '\f': e = "\\f"; break;
		case '\n': e = "\\n"; break;
		case '\r': e = "\\r"; break;
		case '\t': e = "\\t"; break;
		case '\v': e = "\\v"; break;
		case '\\': e = "\\\\"; break;
		case '\'': e = "\\'"; break;
		}
		if (e) {
			to.add(e);
		} else if (is_control(c) || c >= 0x80) {
			char o[5] = {'\\', char('0' + (c >> 6)), char('0' + (c >> 3 & 7)), char('0' + (c & 7)), 0};
			to.add(o);
		} else {
			to.add(char(c));
		}
	}
	to.add('\'');
}

void quoted(Buf &to, std::string_view s)
{
	if (!printable(s)) {
		shown(to, s);
		return;
	}
	if (s.empty()) {
		to.add("''");
		return;
	}
	for (size_t i = 0; i < s.size(); i++) {
		char c = s[i];
		if (strchr(" !\"#$&'()*,;<>?[\\]^`{|}", c) || (c == '~' && i == 0))
			to.add('\\');
		to.add(c);
	}
}

void escape(Buf &to, std::string_view s)
{
	static const char hex[] = "0123456789abcdef";
	for (unsigned char c : s) {
		if (c == '\\') {
			to.add("\\\\");
		} else if (is_control(c)) {
			char e[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
			to.add(std::string_view(e, 4));
		} else {
			to.add(char(c));
		}
	}
}

static int hex_digit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return -1;
}

bool unescape(Buf &to, std::string_view s)
{
	for (size_t i = 0; i < s.size(); i++) {
		if (s[i] != '\\') {
			to.add(s[i]);
		} else if (i + 1 < s.size() && s[i + 1] == '\\') {
			to.add('\\');
			i++;
		} else if (i + 3 < s.size() && s[i + 1] == 'x' && hex_digit(s[i + 2]) >= 0 && hex_digit(s[i + 3]) >= 0) {
			to.add(char(hex_digit(s[i + 2]) * 16 + hex_digit(s[i + 3])));
			i += 3;
		} else {
			return false;
		}
	}
	return true;
}

bool to_number(std::string_view s, long &v)
{
	if (s.empty() || s.size() > 18)
		return false;
	v = 0;
	for (char c : s) {
		if (c < '0' || c > '9')
			return false;
		v = v * 10 + (c - '0');
	}
	return true;
}

