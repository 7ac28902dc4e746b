// The control panel's layout: its 37 controls in order, in dialog units, with their kinds and styles.
#pragma once

#include <cstddef>
#include <span>

#include "session/control_ids.h"

inline constexpr int kPanelWidthUnits = 229;
inline constexpr int kPanelHeightUnits = 121;

enum class ControlKind { Text, GroupBox, ProgressBar, RadioButton, PushButton, EditBox };

enum ControlStyle : unsigned {
    kPlain = 0,
    kEdge = 1u << 0,       // thin sunken border
    kCentred = 1u << 1,    // horizontally centred text
    kVCentred = 1u << 2,   // single line, vertically centred
    kValueFont = 1u << 3,  // receives valueFont at initialisation
    kTabStop = 1u << 4,
    kAboutPane = 1u << 5,  // hidden until About is pressed
};

struct ControlEntry {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, width, height;  // dialog units
    unsigned style;
};

std::span<const ControlEntry> panelLayout();
// nullptr for an id that is not in the layout.
const ControlEntry* findControl(int id);
