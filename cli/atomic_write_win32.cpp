// Replacing a file atomically on Windows.
#include <windows.h>

#include <atomic>
#include <string>

#include "cli/atomic_write.h"
#include "serial/wide_text.h"

namespace {

// The temporary file's name, for the console handler: an interrupted convert leaves no stray file behind.
wchar_t pendingTemporary[MAX_PATH];
std::atomic<bool> temporaryPending{false};

BOOL WINAPI removeTemporary(DWORD) {
    if (temporaryPending.exchange(false)) DeleteFileW(pendingTemporary);
    return FALSE;  // then the default handling ends the process
}

bool fail(std::string& error, const char* what) {
    wchar_t reason[256] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0,
                   reason, sizeof reason / sizeof reason[0], nullptr);
    std::string text = utf8(reason);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    error = std::string(what) + ": " + text;
    return false;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error) {
    if (path.empty() || path.back() == '/' || path.back() == '\\') {
        SetLastError(ERROR_DIRECTORY);
        return fail(error, "not a file name");
    }
    // Paths are UTF-8 inside the program; the wide functions take any name the file system can hold.
    const std::wstring target = utf16(path);
    const std::size_t slash = target.find_last_of(L"/\\");
    const std::wstring directory = slash == std::wstring::npos ? L"." : target.substr(0, slash + 1);

    // Beside the target, so that the replacing move stays within one volume.
    if (GetTempFileNameW(directory.c_str(), L"upd", 0, pendingTemporary) == 0)
        return fail(error, "cannot create a temporary file");
    const std::wstring temporary = pendingTemporary;
    temporaryPending = true;
    SetConsoleCtrlHandler(removeTemporary, TRUE);
    const auto cleanUp = [&] {
        SetConsoleCtrlHandler(removeTemporary, FALSE);
        if (temporaryPending.exchange(false)) DeleteFileW(temporary.c_str());
    };

    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;
    while (written && size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        written = WriteFile(file, data, chunk, &done, nullptr) != 0 && done == chunk;
        data += done;
        size -= done;
    }
    written = written && FlushFileBuffers(file) != 0;
    if (!written) {
        const DWORD why = GetLastError();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        cleanUp();
        SetLastError(why);
        return fail(error, "cannot write");
    }
    CloseHandle(file);
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD why = GetLastError();
        cleanUp();
        SetLastError(why);
        return fail(error, "cannot replace the file");
    }
    temporaryPending = false;
    cleanUp();
    return true;
}
