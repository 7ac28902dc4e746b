// The panel's controls, their places and sizes in dialog units.
#include "ui/panel_layout.h"

namespace {

constexpr unsigned kField = kVCentred | kEdge | kValueFont;
constexpr unsigned kCentredField = kCentred | kField;

constexpr ControlEntry kLayout[] = {
    {IDC_PROGRESS, ControlKind::ProgressBar, "", 9, 78, 158, 7, kPlain},
    {IDC_STATUS, ControlKind::Text, "", 3, 111, 101, 10, kVCentred},
    {IDC_PHONE, ControlKind::Text, "", 51, 53, 116, 10, kField},
    {IDC_PHONE_GROUP, ControlKind::GroupBox, "", 4, 43, 169, 61, kPlain},
    {IDC_DATA_GROUP, ControlKind::GroupBox, "", 4, 0, 169, 104, kPlain},
    {IDC_PHONE_LABEL, ControlKind::Text, "Phone", 10, 54, 22, 8, kPlain},
    {IDC_VERSION, ControlKind::Text, "", 51, 21, 116, 10, kField},
    {IDC_VERSION_LABEL, ControlKind::Text, "Version", 10, 21, 24, 8, kPlain},
    {IDC_IMEI, ControlKind::Text, "", 51, 64, 116, 10, kField},
    {IDC_IMEI_LABEL, ControlKind::Text, "IMEI", 10, 65, 16, 8, kPlain},
    {IDC_PORT_GROUP, ControlKind::GroupBox, "", 178, 16, 45, 54, kPlain},
    {IDC_COM1, ControlKind::RadioButton, "COM 1", 183, 24, 38, 10, kPlain},
    {IDC_COM2, ControlKind::RadioButton, "COM 2", 183, 35, 38, 10, kPlain},
    {IDC_COM3, ControlKind::RadioButton, "COM 3", 183, 46, 38, 10, kPlain},
    {IDC_COM4, ControlKind::RadioButton, "COM 4", 183, 57, 38, 10, kPlain},
    {IDC_UPDATE, ControlKind::PushButton, "Update", 178, 90, 45, 14, kTabStop},
    {IDC_LOADSW, ControlKind::PushButton, "Load SW", 178, 73, 45, 14, kTabStop},
    {IDC_LINKSTATE, ControlKind::Text, "", 106, 111, 34, 10, kCentredField},
    {IDC_LOADER, ControlKind::Text, "", 142, 111, 71, 10, kCentredField},
    {IDC_RULE, ControlKind::Text, "", 0, 108, 228, 1, kEdge},
    {IDC_DUMPSIZE, ControlKind::Text, "", 51, 32, 63, 10, kField},
    {IDC_DUMPSIZE_LABEL, ControlKind::Text, "Dump size", 10, 32, 34, 8, kPlain},
    {IDC_MODULE, ControlKind::Text, "", 51, 10, 84, 10, kField},
    {IDC_MODULE_LABEL, ControlKind::Text, "Module", 10, 10, 29, 8, kPlain},
    {IDC_CRC, ControlKind::Text, "", 137, 32, 30, 10, kCentredField},
    {IDC_CRC_LABEL, ControlKind::Text, "CRC", 117, 32, 18, 10, kCentred | kVCentred},
    {IDC_FORMAT, ControlKind::Text, "", 137, 10, 30, 10, kCentredField},
    {IDC_FRAMESSENT, ControlKind::Text, "", 51, 89, 27, 10, kCentredField},
    {IDC_FRAMES_LABEL, ControlKind::Text, "Frames", 10, 90, 24, 8, kPlain},
    {IDC_TIME_LABEL, ControlKind::Text, "Time", 118, 90, 16, 8, kPlain},
    {IDC_TIME, ControlKind::Text, "", 137, 89, 30, 10, kCentredField},
    {IDC_ABOUT, ControlKind::PushButton, "About", 178, 3, 45, 14, kTabStop},
    {IDC_FRAMESTOTAL, ControlKind::Text, "", 88, 89, 27, 10, kCentredField},
    {IDC_SLASH_LABEL, ControlKind::Text, "/", 81, 90, 5, 8, kPlain},
    {IDC_ABOUTTITLE, ControlKind::Text, "ABOUT BUILD FROM", 8, 7, 83, 6, kValueFont | kAboutPane},
    {IDC_CREDITS, ControlKind::EditBox, "", 4, 13, 169, 35, kTabStop | kEdge | kValueFont | kAboutPane},
    {IDC_BUILDSTAMP, ControlKind::Text, "", 78, 5, 93, 8, kCentredField | kAboutPane},
};

}  // namespace

std::span<const ControlEntry> panelLayout() {
    return kLayout;
}

const ControlEntry* findControl(int id) {
    for (const ControlEntry& entry : kLayout) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}
