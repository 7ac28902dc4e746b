// Runs the built phone-updater-cli on real files in a temporary directory, as a user would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/image/image_fixtures.h"

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out.push_back(c);
        }
    }
    return out + "'";
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() /
                ("cli-test-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        fs::remove_all(root_);
        fs::create_directories(work());
        fs::create_directories(root_ / "io");
    }
    void TearDown() override {
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }

    fs::path work() const { return root_ / "work"; }

    std::string put(const std::string& name, const Bytes& bytes) {
        std::ofstream(work() / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return name;
    }

    // `shellPrefix` runs in the same subshell before the program (ulimit, umask, trap).
    Outcome run(const std::string& arguments, const std::string& shellPrefix = "") {
        const std::string command = "cd " + quote(work().string()) + " && (" + shellPrefix + " exec " +
                                    quote(CLI_BINARY) + " " + arguments + ") >" +
                                    quote((root_ / "io/out").string()) + " 2>" +
                                    quote((root_ / "io/err").string());
        const int status = std::system(command.c_str());
        Outcome result;
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = slurp(root_ / "io/out");
        result.err = slurp(root_ / "io/err");
        return result;
    }

    std::vector<std::string> filesInWork() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(work()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root_;
};

const Bytes kRun = sampleImage(3, "CXC1234567");

}  // namespace

TEST_F(Cli, InfoPrintsTheWindowTextsForEachFormat) {
    put("update.final.sbin", kRun);
    Outcome sbin = run("info update.final.sbin");
    EXPECT_EQ(sbin.code, 0);
    EXPECT_EQ(sbin.out, "Module:  UPDATE\nFormat: SBIN\nVersion:  CXC123456\nSize:  " +
                            std::to_string(kRun.size()) + " bytes\nFrames: 3\nCRC: OK\n");
    EXPECT_EQ(sbin.err, "");

    // Text content named .sbin is still read as text: the name plays no part.
    put("text.sbin", toShex(kRun, "\r\n"));
    EXPECT_EQ(run("info text.sbin").out, "Module:  TEXT\nFormat: SHEX\nVersion:  CXC123456\nSize:  " +
                                             std::to_string(kRun.size()) + " bytes\nFrames: 3\nCRC: OK\n");

    put("phone.r01", toEmma(kRun, "R2A", "010203_0405"));
    EXPECT_EQ(run("info phone.r01").out,
              "Module:  PHONE\nFormat: EMMA\nVersion:  CXC123456 R2A 010203_0405\nSize:  " +
                  std::to_string(kRun.size()) + " bytes\nFrames: 3\nCRC: OK\n");
}

TEST_F(Cli, InfoJsonIsOneObject) {
    Bytes bad = headerFrame() + frame('1', {0, 0, 1}) + frame('1', {0, 1, 2}, false) + endFrame();
    put("bad", bad);
    Outcome plain = run("info --json bad");
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(plain.out, "{\"module\": \" BAD\", \"format\": \"SBIN\", \"version\": null, \"size\": " +
                             std::to_string(bad.size()) + ", \"frames\": 2, \"checksums_ok\": false}\n");

    // Version bytes are Latin-1, cut at the first NUL; quotes are escaped.
    put("v.shex", toShex(sampleImage(1, std::string("CXC\"\xe9"
                                                    "1\0"
                                                    "34",
                                                    9))));
    EXPECT_EQ(run("info v.shex --json").out,
              "{\"module\": \" V\", \"format\": \"SHEX\", \"version\": \" CXC\\\"\xc3\xa9"
              "1\", \"size\": " +
                  std::to_string(sampleImage(1).size() + 6) + ", \"frames\": 1, \"checksums_ok\": true}\n");

    // A Latin-1 file name comes out as UTF-8; a UTF-8 one upper-cased as UTF-8.
    put("caf\xe9.sbin", kRun);
    EXPECT_NE(run("info --json caf\xe9.sbin").out.find("\"module\": \" CAF\xc3\x89\""), std::string::npos);
    put("\xc3\xa9t\xc3\xa9.sbin", kRun);
    EXPECT_NE(run("info --json \xc3\xa9t\xc3\xa9.sbin").out.find("\"module\": \" \xc3\x89T\xc3\x89\""),
              std::string::npos);
}

TEST_F(Cli, ErrorsGiveTheirExitCodeAndMessage) {
    put("notes.txt", bytesOf("S1 is not a header\n"));
    Bytes truncated = kRun;
    truncated.pop_back();
    put("cut.sbin", truncated);
    fs::create_directories(work() / "folder.sbin");
    const struct {
        const char* file;
        int code;
        std::string message;
    } cases[] = {
        {"missing.sbin", 2, "Unable to open flash image"},
        {"folder.sbin", 2, "Unable to open flash image"},
        {"notes.txt", 3, "Unrecognized flash image format"},
        {"cut.sbin", 4, "File is corrupt or unknown format"},
    };
    for (const auto& c : cases) {
        const Outcome text = run(std::string("info ") + c.file);
        EXPECT_EQ(text.code, c.code) << c.file;
        EXPECT_EQ(text.out, "") << c.file;
        EXPECT_EQ(text.err, c.message + "\n") << c.file;

        const Outcome json = run(std::string("info --json ") + c.file);
        EXPECT_EQ(json.code, c.code) << c.file;
        EXPECT_EQ(json.out, "{\"error\": \"" + c.message + "\"}\n") << c.file;

        const Outcome convert = run(std::string("convert ") + c.file + " out.sbin");
        EXPECT_EQ(convert.code, c.code) << c.file;
        EXPECT_EQ(convert.err, c.message + "\n") << c.file;
        EXPECT_FALSE(fs::exists(work() / "out.sbin")) << c.file;
    }
}

TEST_F(Cli, CommandLineMistakesGiveUsageAndExit64) {
    put("a.sbin", kRun);
    for (const char* arguments : {"", "--frob", "-x", "frobnicate a.sbin", "info", "info --jsn a.sbin",
                                  "info a.sbin a.sbin", "convert a.sbin", "convert --force a.sbin b"}) {
        const Outcome result = run(arguments);
        EXPECT_EQ(result.code, 64) << arguments;
        EXPECT_NE(result.err.find("usage: phone-updater-cli"), std::string::npos) << arguments;
        EXPECT_EQ(result.out, "") << arguments;
    }
    const Outcome help = run("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("info [--json] FILE"), std::string::npos);
    const Outcome version = run("--version");
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("phone-updater-cli ", 0), 0u);

    // Output that cannot be written is not a success.
    const std::string full =
        "cd " + quote(work().string()) + " && " + quote(CLI_BINARY) + " info a.sbin >/dev/full 2>/dev/null";
    const int status = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

    // After "--" a name that starts with '-' is a file.
    put("-odd.sbin", kRun);
    EXPECT_EQ(run("info -- -odd.sbin").code, 0);
}

TEST_F(Cli, ConvertWritesTheFrameRunAndReplacesOldContentWhole) {
    put("in.shex", toShex(kRun, "\n", true));
    put("out.sbin", Bytes(100000, 0xEE));  // longer than the result: nothing of it may survive
    const Outcome result = run("convert in.shex out.sbin");
    EXPECT_EQ(result.code, 0) << result.err;
    const std::string written = slurp(work() / "out.sbin");
    EXPECT_EQ(Bytes(written.begin(), written.end()), kRun);
    EXPECT_EQ(filesInWork(), (std::vector<std::string>{"in.shex", "out.sbin"}));  // no temporary left

    // The result reads back as the same image.
    const std::string fromOut = run("info out.sbin").out, fromIn = run("info in.shex").out;
    EXPECT_NE(fromOut.find("Format: SBIN\n"), std::string::npos);
    EXPECT_EQ(fromOut.substr(fromOut.find("Version:")), fromIn.substr(fromIn.find("Version:")));
}

TEST_F(Cli, NewOutputGetsTheUsualModeAndLandsInAnotherDirectory) {
    put("in.sbin", kRun);
    fs::create_directories(work() / "sub");
    ASSERT_EQ(run("convert in.sbin sub/out.sbin", "umask 022;").code, 0);
    struct stat info {};
    ASSERT_EQ(stat((work() / "sub/out.sbin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(run("convert in.sbin missing-dir/out.sbin").code, 1);
}

TEST_F(Cli, FailedWriteLeavesTheOldOutputAndNoTemporary) {
    Bytes big = headerFrame();
    for (int i = 0; i < 200; ++i) big += dataFrame(static_cast<std::uint16_t>(i * 64), 64);
    big += endFrame();
    put("big.sbin", big);
    put("out.sbin", bytesOf("old content"));

    // A file size limit of 4 KiB makes the write fail part way (SIGXFSZ ignored, so write() reports EFBIG).
    const Outcome limited = run("convert big.sbin out.sbin", "trap '' XFSZ; ulimit -f 4;");
    EXPECT_EQ(limited.code, 1);
    EXPECT_NE(limited.err.find("Unable to write out.sbin"), std::string::npos) << limited.err;
    EXPECT_EQ(slurp(work() / "out.sbin"), "old content");
    EXPECT_EQ(filesInWork(), (std::vector<std::string>{"big.sbin", "out.sbin"}));

    // A directory in OUT's place cannot be replaced: it stays, and so does nothing else.
    fs::create_directories(work() / "taken");
    EXPECT_EQ(run("convert big.sbin taken").code, 1);
    EXPECT_TRUE(fs::is_directory(work() / "taken"));
    EXPECT_EQ(filesInWork(), (std::vector<std::string>{"big.sbin", "out.sbin", "taken"}));

    // A corrupt input never touches OUT.
    Bytes cut = big;
    cut.resize(cut.size() - 1);
    put("cut.sbin", cut);
    EXPECT_EQ(run("convert cut.sbin out.sbin").code, 4);
    EXPECT_EQ(slurp(work() / "out.sbin"), "old content");
}

TEST_F(Cli, LargeImageConvertsExactly) {
    // Past 4 MiB of text the file buffer is read differently (large-page advice); the bytes must not change.
    Bytes frames = headerFrame();
    for (int i = 0; i < 70000; ++i)
        frames += dataFrame(static_cast<std::uint16_t>(i * 32), 32, static_cast<std::uint8_t>(i));
    frames += endFrame();
    const Bytes text = toShex(frames, "\r\n");
    ASSERT_GT(text.size(), std::size_t{5} << 20);
    put("large.shex", text);
    ASSERT_EQ(run("convert large.shex large.sbin").code, 0);
    const std::string written = slurp(work() / "large.sbin");
    EXPECT_TRUE(Bytes(written.begin(), written.end()) == frames);
}
