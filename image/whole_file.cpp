// Reading a whole file into memory.
#include "image/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

namespace {
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::error_code lastError() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

// Paths are UTF-8 on every system. Windows names files in UTF-16, and a plain string would be read in the
// ANSI code page there (a user named Łukasz could not open his own files); elsewhere the bytes are the name.
std::filesystem::path nativePath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
#else
    return std::filesystem::path(path);
#endif
}

std::FILE* openForReading(const std::filesystem::path& name) {
#ifdef _WIN32
    return _wfopen(name.c_str(), L"rb");
#else
    return std::fopen(name.c_str(), "rb");
#endif
}
}  // namespace

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, BufferHint hint,
                   LoadFailure* failure) {
    out.clear();
    out.shrink_to_fit();
    const auto fail = [&](LoadProblem problem, std::error_code error = {}) {
        out.clear();
        out.shrink_to_fit();
        if (failure != nullptr) *failure = LoadFailure(problem, error);
        return false;
    };
    const std::filesystem::path name = nativePath(path);
    std::error_code error;
    // Directories and devices open fine on some systems but are no image.
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (std::filesystem::is_directory(status)) return fail(LoadProblem::Directory);
    if (error) return fail(LoadProblem::System, error);
    if (!std::filesystem::is_regular_file(status)) return fail(LoadProblem::NotRegular);
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    if (error) return fail(LoadProblem::System, error);

    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(openForReading(name));
    if (!file) return fail(LoadProblem::System, lastError());
    try {
        out.reserve(static_cast<std::size_t>(size));
        if (hint != nullptr && size != 0) hint(out.data(), out.capacity());
        out.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return fail(LoadProblem::NoMemory);
    } catch (const std::length_error&) {
        return fail(LoadProblem::NoMemory);
    }
    errno = 0;
    const std::size_t got = size == 0 ? 0 : std::fread(out.data(), 1, out.size(), file.get());
    if (std::ferror(file.get())) return fail(LoadProblem::System, lastError());
    // A short read or a file that grew since it was sized is not the whole file.
    if (got != out.size() || std::fgetc(file.get()) != EOF) return fail(LoadProblem::Changed);
    return true;
}
