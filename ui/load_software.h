// The Load SW command: choose an image file, read it whole, and show what it holds (or why not).
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "image/flash_image.h"
#include "session/panel.h"

class QFileDialog;
class QWidget;

// The one image the program holds between commands; the session reads it, Load SW alone replaces it.
struct HeldImage {
    std::optional<FlashImage> image;
    ImageSummary summary;
};

// Asks the user for a file: its full path, or nothing when the dialog was cancelled or failed.
using OpenFileFunction = std::function<std::optional<std::string>()>;

// Title, the five file-type entries (first selected), a typed name of a missing file accepted.
void configureOpenDialog(QFileDialog& dialog);
// The real dialog, modal and owned by `owner`.
OpenFileFunction platformOpenFile(QWidget* owner);

void loadSoftware(Panel& panel, HeldImage& held, const OpenFileFunction& chooseFile);
