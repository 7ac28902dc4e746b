// The options and operands of one subcommand's words.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"

struct ParsedArgs {
    std::vector<std::string> operands;
    std::map<std::string, std::string>
        options;  // given option -> its value ("" for a flag); the last one wins
    std::map<std::string, std::vector<std::string>> values;  // valued option -> every value given, in order
    bool help = false;                                       // -h or --help
    std::string error;                                       // non-empty: the reason for a usage error

    bool has(const std::string& option) const { return options.count(option) != 0; }
};

// `flags` take no value; `valued` take one, as "--opt VALUE" or "--opt=VALUE". "--" ends the options, and
// any other word starting with '-' (but "-" alone) is an unknown option.
ParsedArgs parseArgs(const CommandArgs& args, std::initializer_list<const char*> flags,
                     std::initializer_list<const char*> valued = {});
