// The records a station writes (--log, --events), read back: one flat JSON object per line.
#pragma once

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;
using Record = std::map<std::string, std::string>;  // values as written; strings unquoted

inline Lines linesOf(const std::string& text, char separator = '\n') {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line, separator);) lines.push_back(line);
    return lines;
}

// One flat JSON object, as the program writes it; empty when `line` is not one whole.
inline Record parseRecord(const std::string& line) {
    static const std::regex member(R"re("(\w+)": ("((?:[^"\\]|\\.)*)"|[-\w.]+)(, |\}$))re");
    Record record;
    std::smatch m;
    if (line.rfind('{', 0) != 0) return {};
    for (auto at = line.begin() + 1;
         at < line.end() &&
         std::regex_search(at, line.end(), m, member, std::regex_constants::match_continuous);
         at += m.length()) {
        record[m[1]] = m[3].matched ? m[3].str() : m[2].str();
        if (m[4] == "}") return record;
    }
    return {};
}
