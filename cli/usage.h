// The help text (--help) and the answer to a bad command line.
#pragma once

#include <cstdio>

// Full help, for --help.
void printHelp(std::FILE* out);
#include <string>

// The reason and the usage line on stderr, for a bad command line; returns kExitUsage.
int usageError(const std::string& reason);
