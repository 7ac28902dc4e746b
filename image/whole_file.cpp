// Reading a whole file into memory.
#include "image/whole_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

namespace {
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
}  // namespace

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, BufferHint hint) {
    out.clear();
    out.shrink_to_fit();
    std::error_code error;
    // Directories and devices open fine on some systems but are no image.
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return false;

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
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
    const std::size_t got = size == 0 ? 0 : std::fread(out.data(), 1, out.size(), file.get());
    // A short read or a file that grew since it was sized is not the whole file.
    if (got != out.size() || std::fgetc(file.get()) != EOF) {
        out.clear();
        out.shrink_to_fit();
        return false;
    }
    return true;
}
