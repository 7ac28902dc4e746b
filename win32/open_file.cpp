// The Win32 open-file dialog for Load SW.
#include "win32/open_file.h"

#include <commdlg.h>

#include <string>

#include "serial/wide_text.h"

namespace {

// "shown\0patterns\0" for every entry, then the closing '\0'.
std::wstring filterList() {
    std::wstring list;
    for (const ImageFileType& type : imageFileTypes()) {
        list += utf16(type.shownAs);
        list += L'\0';
        list += utf16(type.patterns);
        list += L'\0';
    }
    return list + L'\0';
}

}  // namespace

OpenFileFunction platformOpenFile(HWND owner) {
    return [owner]() -> std::optional<std::string> {
        const std::wstring filter = filterList();
        const std::wstring title = utf16(kOpenDialogTitle);
        // The path with its terminator must fit; wide, so that a name in any language comes back whole.
        wchar_t path[1024] = L"";
        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = owner;
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = 1;
        dialog.lpstrFile = path;
        dialog.nMaxFile = sizeof path / sizeof path[0];
        dialog.lpstrTitle = title.c_str();
        // The file need not exist: a typed name of a missing file is reported by the open that follows.
        dialog.Flags = OFN_HIDEREADONLY;
        if (!GetOpenFileNameW(&dialog)) return std::nullopt;
        return utf8(path);
    };
}
