// phone-updater-cli info and convert, run as a program on real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iterator>
#include <sstream>

#include "tests/support/program_run.h"
#include "tests/support/sample_image.h"

using namespace sample;

namespace {

class Cli : public ::testing::Test {
  protected:
    // Exit code, then what the program printed on stdout and on stderr.
    // `binary`: a copy of the program, run as an ordinary user (nobody, under root).
    std::tuple<int, std::string, std::string> run(const std::vector<std::string>& args,
                                                  const std::string& prefix = "",
                                                  const std::string& binary = "") {
        ProgramRun program(binary.empty() ? CLI_BINARY : binary, args, dir.path().string(), prefix,
                           !binary.empty());
        const int code = program.finish();
        return {code, program.out, program.err};
    }

    TempDir dir;
    const Bytes run3 = image(3, "CXC1234567");
    const std::string tail = "Size:    " + std::to_string(run3.size()) + " bytes\nFrames:  3\nCRC:     OK\n";
};

TEST_F(Cli, InfoPrintsTheWindowTextsWhateverTheName) {
    EXPECT_EQ(run({"info", dir.write("update.final.sbin", run3)}),
              std::tuple(0, "Module:  UPDATE\nFormat:  SBIN\nVersion: CXC123456\n" + tail, std::string()));
    EXPECT_EQ(std::get<1>(run({"info", dir.write("text.sbin", toShex(run3))})),
              "Module:  TEXT\nFormat:  SHEX\nVersion: CXC123456\n" + tail);
    EXPECT_EQ(std::get<1>(run({"info", dir.write("phone.r01", toEmma(run3, "R2A", "010203_0405"))})),
              "Module:  PHONE\nFormat:  EMMA\nVersion: CXC123456 R2A 010203_0405\n" + tail);
    // JSON: Latin-1 version bytes cut at the first NUL, quotes and control bytes escaped; a Latin-1 file name
    // comes out as UTF-8.
    const Bytes marked = image(2,
                               std::string("CXC\"\xe9\x01"
                                           "1\000345",
                                           10),
                               1, false);
    EXPECT_EQ(
        std::get<1>(run({"info", dir.write("v\xe9.shex", toShex(marked)), "--json"})),
        "{\"module\": \" V\xc3\x89\", \"module_name\": \"V\xc3\x89\", \"format\": \"SHEX\", \"version\": \" "
        "CXC\\\"\xc3\xa9\\u00011\", \"version_text\": \"CXC\\\"\xc3\xa9\\u00011\", \"size\": " +
            std::to_string(marked.size()) + ", \"frames\": 2, \"checksums_ok\": false}\n");
    // Only the window's one blank goes: a name's own leading blank stays. No version: an empty line, nulls.
    const std::string plain = dir.write(" lead.sbin", image(1, "NO VERSION"));
    const std::string text = "Module:   LEAD\nFormat:  SBIN\nVersion:\nSize: ",
                      json =
                          "{\"module\": \"  LEAD\", \"module_name\": \" LEAD\", \"format\": \"SBIN\", "
                          "\"version\": null, \"version_text\": null, \"size\"";
    EXPECT_EQ(std::get<1>(run({"info", plain})).substr(0, text.size()), text);
    EXPECT_EQ(std::get<1>(run({"info", "--json", plain})).substr(0, json.size()), json);
    // Plain text shows control characters as visible stand-ins, as the window does.
    const std::string odd = std::get<1>(
        run({"info", dir.write("a\033b\x7f\xc2\x85\xc2\xa0.sbin", image(1, "CXC1\x7f\x85\304\3515"))}));
    EXPECT_EQ(odd.substr(0, odd.find("Size:")),
              "Module:  A\u241bB\u2421\ufffd\u00a0\nFormat:  SBIN\nVersion: CXC1\u2421\ufffd\u00c4\u00e95\n");
}

TEST_F(Cli, UnreadableImagesGiveTheirCodeMessageAndReasonAndWriteNothing) {
    std::filesystem::create_directories(dir.path() / "folder.sbin");
    const std::string locked = dir.write("locked.sbin", run3);
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const std::tuple<std::string, int, std::string, std::string> rows[] = {
        {"missing.sbin", 2, "Unable to open flash image", "missing.sbin: no such file or directory"},
        {"folder.sbin", 2, "Unable to open flash image", "folder.sbin: is a directory"},
        {"locked.sbin", 2, "Unable to open flash image", "locked.sbin: permission denied"},
        {"locked.sbin/x", 2, "Unable to open flash image", "a part of the path is not a folder"},
        {dir.write("empty.sbin", {}), 3, "Unrecognized flash image format", "the file is empty"},
        {dir.write("notes.txt", bytesOf("S1 is not a header\n")), 3, "Unrecognized flash image format",
         "the first bytes, 53 31 20 69 (\"S1 i\"), are not the start of an SBIN, SHEX or EMMA image"},
        {dir.write("cut.sbin", cut(run3)), 4, "File is corrupt or unknown format",
         "read as SBIN, frame 5 at offset " + std::to_string(run3.size() - 6) +
             " is cut short: 5 of its 6 bytes are in the file"}};
    // A file the user may not read needs a user whom permissions bind: as root, the run becomes nobody, who
    // may reach neither the build nor a private folder.
    const std::string program = dir.path() / "phone-updater-cli";
    std::filesystem::copy_file(CLI_BINARY, program);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_exec);
    for (auto [file, code, message, reason] : rows) {
        if (reason.rfind(file, 0) != 0) reason = file + ": " + reason;
        const std::string lines = message + "\n" + reason + "\n";
        EXPECT_EQ(run({"info", file}, "", program), std::tuple(code, std::string(), lines));
        std::string quoted;  // the reason as a JSON string
        for (char c : reason) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
        EXPECT_EQ(
            run({"info", "--json", file}, "", program),
            std::tuple(code, "{\"error\": \"" + message + "\", \"reason\": \"" + quoted + "\"}\n", lines));
        EXPECT_EQ(run({"convert", file, "out.sbin"}, "", program), std::tuple(code, std::string(), lines));
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.sbin"));
    }
}

TEST_F(Cli, ConvertRefusesAFrameRunThatWouldNotReadBack) {
    const Bytes second = frame('1', {0, 0, 1});
    const std::pair<Bytes, std::string> rows[] = {
        {toEmma(frame('3', {0, 0, 7}) + second + endFrame()), "the first frame's type is '3', not '0'"},
        {toEmma(frame('\xc4', {0, 0, 7}) + second + endFrame()), "the first frame's type is 0xC4, not '0'"},
        {toShex(frame('0', {0, 0, 7}, false) + second + endFrame()), "the first frame fails its checksum"},
        {toEmma(header() + frame('1', {0, 0, 1}, false) + endFrame()),
         "the second frame fails its checksum"}};
    for (const auto& [content, why] : rows) {
        const auto [code, out, err] = run({"convert", dir.write("in", content), "out.sbin"});
        EXPECT_EQ(std::tuple(code, err),
                  std::tuple(5, "Not written: " + why + ", so out.sbin would not read back as this image\n"));
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.sbin"));
    }
}

TEST_F(Cli, CommandLineMistakesHelpAndVersion) {
    dir.write("a.sbin", run3);
    // Each a command line, words split at spaces.
    for (const char* line :
         {"", "--frob", "-x", "frobnicate a.sbin", "info", "info --jsn a.sbin", "info --json=1 a.sbin",
          "info a.sbin a.sbin", "convert a.sbin", "convert --force a.sbin b"}) {
        std::istringstream words(line);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        const auto [code, out, err] = run(args);
        EXPECT_EQ(code, 64) << line;
        EXPECT_EQ(out, "");
        EXPECT_NE(err.find("usage: phone-updater-cli"), std::string::npos);
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"info", "--help"}})
        EXPECT_NE(std::get<1>(run(args)).find("info [--json] FILE"), std::string::npos) << args.size();
    EXPECT_EQ(std::get<1>(run({"--version"})).rfind("phone-updater-cli ", 0), 0u);
    EXPECT_EQ(std::get<0>(run({"info", "a.sbin"}, "exec >/dev/full;")), 1);  // output that cannot be written
    dir.write("-odd.sbin", run3);
    EXPECT_EQ(std::get<0>(run({"info", "--", "-odd.sbin"})), 0);
}

TEST_F(Cli, ConvertReplacesTheOutputWholeOrNotAtAll) {
    const Bytes lastBad = image(3, "CXC1234567", 16, false);  // only the first two frames must pass
    dir.write("in.shex", toShex(lastBad, "\n", true));
    dir.write("out.sbin", Bytes(100000, 0xEE));  // longer than the result: nothing of it may survive
    ASSERT_EQ(std::get<0>(run({"convert", "in.shex", "out.sbin"})), 0);
    EXPECT_EQ(bytesOf(dir.read("out.sbin")), lastBad);
    std::filesystem::create_directories(dir.path() / "sub");
    ASSERT_EQ(std::get<0>(run({"convert", "in.shex", "sub/new.sbin"}, "umask 022;")), 0);
    struct stat info {};
    EXPECT_EQ(::stat((dir.path() / "sub/new.sbin").c_str(), &info) == 0 ? info.st_mode & 0777 : 0, 0644u);
    EXPECT_EQ(std::get<0>(run({"convert", "in.shex", "missing-dir/out.sbin"})), 1);

    // A write that fails part way (a 4 KiB file size limit, SIGXFSZ ignored) leaves the old output.
    dir.write("big.sbin", image(200, "HDR", 64));
    dir.write("out.sbin", bytesOf("old content"));
    const auto [code, out, err] = run({"convert", "big.sbin", "out.sbin"}, "trap '' XFSZ; ulimit -f 4;");
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("Unable to write out.sbin"), std::string::npos) << err;
    EXPECT_EQ(dir.read("out.sbin"), "old content");
    std::filesystem::create_directories(dir.path() / "taken");
    EXPECT_EQ(std::get<0>(run({"convert", "big.sbin", "taken"})), 1);
    std::vector<std::string> names;  // no temporary file left behind, the folder in OUT's place kept
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.sbin", "in.shex", "out.sbin", "sub", "taken"}));
}

}  // namespace
