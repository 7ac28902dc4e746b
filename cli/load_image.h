// Reads an image file whole and turns it into an image, with the exit code and message for each failure.
#pragma once

#include <string>

#include "image/read_image.h"

struct LoadedImage {
    int exitCode = 0;        // kExitOk, kExitCannotOpen, kExitUnrecognized or kExitCorrupt
    const char* error = "";  // the user's message when exitCode is not kExitOk
    std::string reason;      // then the file's name and why, the line printed after the message
    ReadResult read;         // meaningful only with kExitOk
};

LoadedImage loadImageFile(const std::string& path);
// The message, then the reason on a line of its own, to stderr.
void printLoadFailure(const LoadedImage& loaded);
