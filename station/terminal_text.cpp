// The labels of the panel's fields on a terminal line.
#include "station/terminal_text.h"

#include "session/control_ids.h"

const char* terminalFieldLabel(int control) {
    switch (control) {
        case IDC_PHONE:
            return "Phone";
        case IDC_IMEI:
            return "IMEI";
        case IDC_LINKSTATE:
            return "Link";
        case IDC_LOADER:
            return "Loader";
        default:
            return nullptr;
    }
}

std::string trimmedField(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}
