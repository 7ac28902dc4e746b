// Replacing a file atomically on Windows.
#include <windows.h>

#include <atomic>
#include <string>

#include "cli/atomic_write.h"

namespace {

// The temporary file's name, for the console handler: an interrupted convert leaves no stray file behind.
char pendingTemporary[MAX_PATH];
std::atomic<bool> temporaryPending{false};

BOOL WINAPI removeTemporary(DWORD) {
    if (temporaryPending.exchange(false)) DeleteFileA(pendingTemporary);
    return FALSE;  // then the default handling ends the process
}

bool fail(std::string& error, const char* what) {
    char reason[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0,
                   reason, sizeof reason, nullptr);
    std::string text(reason);
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
    const std::size_t slash = path.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);

    // Beside the target, so that the replacing move stays within one volume.
    if (GetTempFileNameA(directory.c_str(), "upd", 0, pendingTemporary) == 0)
        return fail(error, "cannot create a temporary file");
    const std::string temporary = pendingTemporary;
    temporaryPending = true;
    SetConsoleCtrlHandler(removeTemporary, TRUE);
    const auto cleanUp = [&] {
        SetConsoleCtrlHandler(removeTemporary, FALSE);
        if (temporaryPending.exchange(false)) DeleteFileA(temporary.c_str());
    };

    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
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
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD why = GetLastError();
        cleanUp();
        SetLastError(why);
        return fail(error, "cannot replace the file");
    }
    temporaryPending = false;
    cleanUp();
    return true;
}
