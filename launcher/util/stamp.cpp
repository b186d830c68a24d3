#include "util/stamp.hpp"

// Days since 1970-01-01 of a civil date, and back.
static long days_from_civil(long y, long m, long d)
{
	y -= m <= 2;
	long era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
	long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
	return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

void stamp(Buf &to, time_t t)
{
	struct tm tm;
	char s[32];
	gmtime_r(&t, &tm);
	strftime(s, sizeof s, "%Y-%m-%dT%H:%M:%SZ", &tm);
	to.add(s);
}

bool parse_stamp(std::string_view s, time_t &t)
{
	static const char form[] = "dddd-dd-ddTdd:dd:ddZ";
	if (s.size() != sizeof form - 1)
		return false;
	for (size_t i = 0; i < s.size(); i++)
		if (form[i] == 'd' ? s[i] < '0' || s[i] > '9' : s[i] != form[i])
			return false;
	auto field = [&](size_t at, size_t len) {
		long v = 0;
		for (size_t i = at; i < at + len; i++)
			v = v * 10 + (s[i] - '0');
		return v;
	};
	long mo = field(5, 2), d = field(8, 2), h = field(11, 2), mi = field(14, 2), se = field(17, 2);
	if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60)
		return false;
	t = (days_from_civil(field(0, 4), mo, d) * 86400) + h * 3600 + mi * 60 + se;
	return true;
}

