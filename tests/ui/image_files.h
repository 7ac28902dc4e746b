// Small image files written to a temporary folder for the Load SW and session tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// One frame: 'S', type, count, address and data bytes, checksum (bad on request).
Bytes frame(char type, const Bytes& addressAndData, bool goodChecksum = true);
// Header frame (carrying `header` as data), `dataFrames` data frames of 16 bytes, termination frame.
// With goodChecksums false the last data frame's checksum is wrong (the first two stay valid, so the
// binary detection still passes).
Bytes sbinImage(const std::string& header, int dataFrames, bool goodChecksums = true);
// The same frames as S-record text lines.
std::string shexText(const Bytes& sbin);
// An EMMA file holding the same frames, masked, behind a header carrying the two version fields.
Bytes emmaFile(const Bytes& sbin);

class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::filesystem::path path() const { return path_; }
    std::string write(const std::string& name, const Bytes& content) const;
    std::string write(const std::string& name, const std::string& content) const;

  private:
    std::filesystem::path path_;
};
