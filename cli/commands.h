// One function per subcommand. Each gets the words after the subcommand's name and returns the exit code.
#pragma once

#include <string>
#include <vector>

using CommandArgs = std::vector<std::string>;

int runInfo(const CommandArgs& args);     // cmd_info.cpp
int runConvert(const CommandArgs& args);  // cmd_convert.cpp
int runFlash(const CommandArgs& args);    // cmd_flash.cpp
int runPorts(const CommandArgs& args);    // cmd_ports.cpp
