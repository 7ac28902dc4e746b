// The Load SW command's open dialog, modal and owned by the main window.
#pragma once

#include <windows.h>

#include "ui/load_command.h"

OpenFileFunction platformOpenFile(HWND owner);
