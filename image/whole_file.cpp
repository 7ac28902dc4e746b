#include "image/whole_file.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

namespace {

// Paths are UTF-8 on every system. Windows names files in UTF-16, and a plain string would be read in the
// ANSI code page there (a user named Łukasz could not open his own files); elsewhere the bytes are the name.
std::filesystem::path nativePath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
#else
    return std::filesystem::path(path);
#endif
}

}  // namespace

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, BufferHint hint) {
    out.clear();
    out.shrink_to_fit();
    const std::filesystem::path name = nativePath(path);
    std::error_code error;
    // Directories and devices open fine on some systems but are no image.
    if (!std::filesystem::is_regular_file(name, error)) return false;
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    if (error) return false;

    std::ifstream file(name, std::ios::binary);
    if (!file) return false;
    try {
        out.reserve(static_cast<std::size_t>(size));
        if (hint != nullptr && size != 0) hint(out.data(), out.capacity());
        out.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    std::streambuf& bytes = *file.rdbuf();
    const std::streamsize want = static_cast<std::streamsize>(out.size());
    const std::streamsize got = want == 0 ? 0 : bytes.sgetn(reinterpret_cast<char*>(out.data()), want);
    // A short read or a file that grew since it was sized is not the whole file.
    if (got != want || bytes.sgetc() != std::char_traits<char>::eof()) {
        out.clear();
        out.shrink_to_fit();
        return false;
    }
    return true;
}
