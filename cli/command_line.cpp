// Splitting a command's arguments into flags, valued options and operands.
#include "cli/command_line.h"

#include <algorithm>

namespace {
bool listed(std::initializer_list<const char*> names, const std::string& word) {
    return std::any_of(names.begin(), names.end(), [&](const char* name) { return word == name; });
}
}  // namespace

ParsedArgs parseArgs(const CommandArgs& args, std::initializer_list<const char*> flags,
                     std::initializer_list<const char*> valued) {
    ParsedArgs parsed;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (equals == std::string::npos && listed(flags, arg)) {
            parsed.options[arg] = "";
        } else if (listed(valued, name)) {
            if (equals != std::string::npos) {
                parsed.options[name] = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                parsed.options[name] = args[++i];
            } else {
                parsed.error = name + " needs a value";
                break;
            }
            parsed.values[name].push_back(parsed.options[name]);
        } else {
            parsed.error = "unknown option '" + arg + "'";
            break;
        }
    }
    return parsed;
}
