// The Load SW command apart from any toolkit: choose an image file (through the window's own dialog), read it
// whole, and show what it holds or why not. The Qt window and the Win32 dialog both run it.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "image/flash_image.h"
#include "session/panel.h"

// The one image the program holds between commands; the session reads it, Load SW alone replaces it.
struct HeldImage {
    std::optional<FlashImage> image;
    ImageSummary summary;
};

// Asks the user for a file: its full path, or nothing when the dialog was cancelled or failed.
using OpenFileFunction = std::function<std::optional<std::string>()>;

inline constexpr const char* kOpenDialogTitle = "Open Software Update";

// An entry of the open dialog's type list: the text shown and its patterns, separated by ';'. The first
// entry is selected when the dialog opens; "*.*" stands for every name, with or without a '.'.
struct ImageFileType {
    const char* shownAs;
    const char* patterns;
};
std::span<const ImageFileType> imageFileTypes();

// Panel texts are UTF-8: the module name and the version come as displayText() shows them.
void loadSoftware(Panel& panel, HeldImage& held, const OpenFileFunction& chooseFile);
// The particulars of a loaded image in their fields (format, version, CRC, size, frames), in the texts the
// command line prints too.
void showSummary(Panel& panel, const ImageSummary& summary);
