// storygen TABLE HEADER: the story's table as C++ tables for the recorder,
// so that the steps, the answers and the story's facts are written once,
// in the table.  A row that does not fit its kind stops the build.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string &line)
{
	std::vector<std::string> fields;
	std::string field;
	std::istringstream in(line);
	while (std::getline(in, field, '|'))
		fields.push_back(field);
	if (!line.empty() && line.back() == '|')
		fields.emplace_back();
	return fields;
}

std::string literal(const std::string &s)
{
	std::string out = "\"";
	for (char c : s) {
		if (c == '\n') {
			out += "\\n";
			continue;
		}
		if (c == '"' || c == '\\')
			out += '\\';
		out += c;
	}
	return out + '"';
}

[[noreturn]] void fail(const std::string &table, int n, const char *why)
{
	std::fprintf(stderr, "%s:%d: %s\n", table.c_str(), n, why);
	std::exit(1);
}

}  // namespace

int main(int argc, char **argv)
{
	if (argc != 3) {
		std::fprintf(stderr, "usage: storygen TABLE HEADER\n");
		return 2;
	}
	std::ifstream in(argv[1]);
	if (!in)
		fail(argv[1], 0, "cannot read the table");
	std::string steps, answers, programs, facts, wants, hints, line;
	std::vector<std::string> seen;
	int nsteps = 0, nanswers = 0, nwants = 0, nhints = 0, n = 0;
	while (std::getline(in, line)) {
		n++;
		if (line.empty() || line[0] == '#')
			continue;
		std::vector<std::string> f = split(line);
		if (f[0] == "step") {
			if (f.size() != 6)
				fail(argv[1], n, "a step has 5 fields");
			steps += "\t{" + literal(f[1]) + ", " + literal(f[2]) + ", " + literal(f[3]) + ", " +
			         literal(f[4]) + ", " + literal(f[5]) + "},\n";
			nsteps++;
		} else if (f[0] == "answer") {
			if (f.size() != 7 || (f[3] != "0" && f[3] != "1") || (f[4] != "" && f[4] != "done") ||
			    (f[4] == "done") == !f[5].empty())
				fail(argv[1], n,
				     "an answer has 6 fields: program, key, status 0 or 1, done or nothing, "
				     "what stuck on it means (for an answer not done), opening");
			answers += "\t{" + literal(f[1]) + ", " + literal(f[2]) + ", " + f[3] + ", " +
			           (f[4] == "done" ? "true" : "false") + ", " + literal(f[5]) + ", " + literal(f[6]) + "},\n";
			nanswers++;
			bool known = false;
			for (const std::string &p : seen)
				known |= p == f[1];
			if (!known) {
				seen.push_back(f[1]);
				programs += "\t" + literal(f[1]) + ",\n";
			}
		} else if (f[0] == "want") {
			if (f.size() != 6)
				fail(argv[1], n, "a want has a step, a path, the fact its prop begins with, a name and a place");
			wants += "\t{" + literal(f[1]) + ", " + literal(f[2]) + ", " + f[3] + ", " + literal(f[4]) + ", " +
			         literal(f[5]) + "},\n";
			nwants++;
		} else if (f[0] == "fact") {
			if (f.size() != 3)
				fail(argv[1], n, "a fact has a name and a value");
			facts += "constexpr std::string_view " + f[1] + " = " + literal(f[2]) + ";\n";
		} else if (f[0] == "hint") {
			if (f.size() < 4)
				fail(argv[1], n, "a hint has a situation, an idea and command lines");
			std::string lines;
			for (size_t i = 3; i < f.size(); i++) {
				if (f[i] != "$mend" && f[i].find(" # ") == std::string::npos)
					fail(argv[1], n, "a hint's command line says what it does after \" # \"");
				lines += (i > 3 ? "\n" : "") + f[i];
			}
			hints += "\t{" + literal(f[1]) + ", " + literal(f[2]) + ", " + literal(lines) + "},\n";
			nhints++;
		} else {
			fail(argv[1], n, "a row is a step, an answer, a fact, a want or a hint");
		}
	}
	std::ofstream out(argv[2]);
	out << "// Made by storygen from the story's table; edit the table, not this.\n"
	       "#pragma once\n\n#include <string_view>\n\nnamespace story {\n\n"
	       "struct Step {\n\tstd::string_view name, command, needs, map, next;\n};\n"
	       "struct Answer {\n\tstd::string_view program, key;\n\tint status;\n\tbool done;\n"
	       "\tstd::string_view stuck, opening;\n};\n"
	       "struct Want {\n\tstd::string_view step, path, prop, name, place;\n};\n"
	       "struct Hint {\n\tstd::string_view situation, idea, lines;\t// \"COMMAND # WHAT\" one a line\n};\n\n"
	    << "constexpr int nsteps = " << nsteps << ";\nconstexpr Step steps[nsteps] = {\n" << steps
	    << "};\n\nconstexpr int nanswers = " << nanswers << ";\nconstexpr Answer answers[nanswers] = {\n"
	    << answers << "};\n\nconstexpr int nprograms = " << seen.size()
	    << ";\nconstexpr std::string_view programs[nprograms] = {\n" << programs << "};\n\n"
	    << facts << "\nconstexpr int nwants = " << nwants << ";\nconstexpr Want wants[nwants] = {\n" << wants << "};\n\n"
	    << "constexpr int nhints = " << nhints << ";\nconstexpr Hint hints[nhints] = {\n" << hints << "};\n"
	    << "\n}  // namespace story\n";
	return out ? 0 : 1;
}
