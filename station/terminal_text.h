// How a terminal words the panel's fields: which ones get a line of their own, and under what label.
#pragma once

#include <string>

// The fields a terminal user wants to follow, with the label each line gets; null for the others.
const char* terminalFieldLabel(int control);
// Field texts start with a space where the window pads them; a line does not need it.
std::string trimmedField(const std::string& text);
