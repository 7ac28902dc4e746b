// The Win32 open-file dialog for Load SW.
#include "win32/open_file.h"

#include <commdlg.h>

#include <string>

namespace {

// "shown\0patterns\0" for every entry, then the closing '\0'.
std::string filterList() {
    std::string list;
    for (const ImageFileType& type : imageFileTypes()) {
        list += type.shownAs;
        list += '\0';
        list += type.patterns;
        list += '\0';
    }
    return list + '\0';
}

}  // namespace

OpenFileFunction platformOpenFile(HWND owner) {
    return [owner]() -> std::optional<std::string> {
        const std::string filter = filterList();
        char path[1024] = "";  // the path with its terminator must fit
        OPENFILENAMEA dialog{};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = owner;
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = 1;
        dialog.lpstrFile = path;
        dialog.nMaxFile = sizeof path;
        dialog.lpstrTitle = kOpenDialogTitle;
        // The file need not exist: a typed name of a missing file is reported by the open that follows.
        dialog.Flags = OFN_HIDEREADONLY;
        if (!GetOpenFileNameA(&dialog)) return std::nullopt;
        return std::string(path);
    };
}
