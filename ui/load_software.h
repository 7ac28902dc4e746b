// The Load SW command's Qt open dialog; the command itself is in ui/load_command.h.
#pragma once

#include <QString>

#include "ui/load_command.h"

class QFileDialog;
class QWidget;

// Title, the five file-type entries (first selected), a typed name of a missing file accepted.
void configureOpenDialog(QFileDialog& dialog);
// The real dialog, modal and owned by `owner`.
OpenFileFunction platformOpenFile(QWidget* owner);
