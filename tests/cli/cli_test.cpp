// phone-updater-cli info and convert, run as a program on real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/program_run.h"
#include "tests/support/sample_image.h"

using namespace sample;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

class Cli : public ::testing::Test {
  protected:
    Outcome run(const std::vector<std::string>& args, const std::string& shellPrefix = "") {
        ProgramRun program(CLI_BINARY, args, dir.path().string(), shellPrefix);
        const int code = program.finish();
        return {code, program.out, program.err};
    }
    std::string slurp(const std::string& name) {
        std::ifstream in(dir.path() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const Bytes run3 = image(3, "CXC1234567");
    const std::string size = std::to_string(run3.size());
};

TEST_F(Cli, InfoPrintsTheWindowTextsWhateverTheName) {
    const struct {
        std::string name;
        Bytes content;
        std::string expected;
    } rows[] = {
        {"update.final.sbin", run3, "Module:  UPDATE\nFormat: SBIN\nVersion:  CXC123456\n"},
        {"text.sbin", toShex(run3), "Module:  TEXT\nFormat: SHEX\nVersion:  CXC123456\n"},
        {"phone.r01", toEmma(run3, "R2A", "010203_0405"),
         "Module:  PHONE\nFormat: EMMA\nVersion:  CXC123456 R2A 010203_0405\n"},
    };
    for (const auto& row : rows) {
        const Outcome info = run({"info", dir.write(row.name, row.content)});
        EXPECT_EQ(info.code, 0);
        EXPECT_EQ(info.out, row.expected + "Size:  " + size + " bytes\nFrames: 3\nCRC: OK\n");
        EXPECT_EQ(info.err, "");
    }
}

TEST_F(Cli, InfoJson) {
    const Bytes bad = image(2, "HDR", 1, false);
    EXPECT_EQ(run({"info", "--json", dir.write("bad", bad)}).out,
              "{\"module\": \" BAD\", \"format\": \"SBIN\", \"version\": null, \"size\": " +
                  std::to_string(bad.size()) + ", \"frames\": 2, \"checksums_ok\": false}\n");
    // Version bytes are Latin-1, cut at the first NUL, quotes escaped.
    const Bytes marked = image(1, std::string("CXC\"\xe9"
                                              "1\0"
                                              "34",
                                              9));
    EXPECT_EQ(run({"info", dir.write("v.shex", toShex(marked)), "--json"}).out,
              "{\"module\": \" V\", \"format\": \"SHEX\", \"version\": \" CXC\\\"\xc3\xa9"
              "1\", \"size\": " +
                  std::to_string(marked.size()) + ", \"frames\": 1, \"checksums_ok\": true}\n");
    // A Latin-1 file name comes out as UTF-8; a UTF-8 one is upper-cased as UTF-8.
    EXPECT_NE(run({"info", "--json", dir.write("caf\xe9.sbin", run3)}).out.find("\" CAF\xc3\x89\""),
              std::string::npos);
    EXPECT_NE(
        run({"info", "--json", dir.write("\xc3\xa9t\xc3\xa9", run3)}).out.find("\" \xc3\x89T\xc3\x89\""),
        std::string::npos);
}

TEST_F(Cli, UnreadableImagesGiveTheirCodeAndMessage) {
    fs::create_directories(dir.path() / "folder.sbin");
    const struct {
        std::string file;
        int code;
        std::string message;
    } rows[] = {
        {"missing.sbin", 2, "Unable to open flash image"},
        {"folder.sbin", 2, "Unable to open flash image"},
        {dir.write("notes.txt", bytesOf("S1 is not a header\n")), 3, "Unrecognized flash image format"},
        {dir.write("cut.sbin", Bytes(run3.begin(), run3.end() - 1)), 4, "File is corrupt or unknown format"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const Outcome text = run({"info", row.file}), json = run({"info", "--json", row.file});
        EXPECT_EQ(text.code, row.code);
        EXPECT_EQ(text.out, "");
        EXPECT_EQ(text.err, row.message + "\n");
        EXPECT_EQ(json.code, row.code);
        EXPECT_EQ(json.out, "{\"error\": \"" + row.message + "\"}\n");
        const Outcome convert = run({"convert", row.file, "out.sbin"});
        EXPECT_EQ(convert.code, row.code);
        EXPECT_EQ(convert.err, row.message + "\n");
        EXPECT_FALSE(fs::exists(dir.path() / "out.sbin"));
    }
}

TEST_F(Cli, CommandLineMistakesHelpAndVersion) {
    dir.write("a.sbin", run3);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--frob"},
                                               {"-x"},
                                               {"frobnicate", "a.sbin"},
                                               {"info"},
                                               {"info", "--jsn", "a.sbin"},
                                               {"info", "a.sbin", "a.sbin"},
                                               {"convert", "a.sbin"},
                                               {"convert", "--force", "a.sbin", "b"}}) {
        const Outcome result = run(args);
        EXPECT_EQ(result.code, 64) << args.size();
        EXPECT_NE(result.err.find("usage: phone-updater-cli"), std::string::npos);
        EXPECT_EQ(result.out, "");
    }
    const Outcome help = run({"--help"}), version = run({"--version"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("info [--json] FILE"), std::string::npos);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("phone-updater-cli ", 0), 0u);
    EXPECT_EQ(run({"info", "a.sbin"}, "exec >/dev/full;").code, 1);  // output that cannot be written
    dir.write("-odd.sbin", run3);
    EXPECT_EQ(run({"info", "--", "-odd.sbin"}).code, 0);
}

TEST_F(Cli, ConvertReplacesTheOutputWholeOrNotAtAll) {
    dir.write("in.shex", toShex(run3, "\n", true));
    dir.write("out.sbin", Bytes(100000, 0xEE));  // longer than the result: nothing of it may survive
    ASSERT_EQ(run({"convert", "in.shex", "out.sbin"}, "umask 022;").code, 0);
    EXPECT_EQ(bytesOf(slurp("out.sbin")), run3);
    EXPECT_EQ(files(), (std::vector<std::string>{"in.shex", "out.sbin"}));  // no temporary left
    fs::create_directories(dir.path() / "sub");
    ASSERT_EQ(run({"convert", "in.shex", "sub/new.sbin"}, "umask 022;").code, 0);
    struct stat info {};
    ASSERT_EQ(::stat((dir.path() / "sub/new.sbin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(run({"convert", "in.shex", "missing-dir/out.sbin"}).code, 1);

    // A write that fails part way (file size limit of 4 KiB, SIGXFSZ ignored) leaves the old output.
    const Bytes big = image(200, "HDR", 64);
    dir.write("big.sbin", big);
    dir.write("out.sbin", bytesOf("old content"));
    const Outcome limited = run({"convert", "big.sbin", "out.sbin"}, "trap '' XFSZ; ulimit -f 4;");
    EXPECT_EQ(limited.code, 1);
    EXPECT_NE(limited.err.find("Unable to write out.sbin"), std::string::npos) << limited.err;
    EXPECT_EQ(slurp("out.sbin"), "old content");
    fs::create_directories(dir.path() / "taken");
    EXPECT_EQ(run({"convert", "big.sbin", "taken"}).code, 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / "taken"));
    EXPECT_EQ(files(), (std::vector<std::string>{"big.sbin", "in.shex", "out.sbin", "sub", "taken"}));
}

TEST_F(Cli, LargeImageConvertsExactly) {
    // Past 4 MiB of text the file buffer is read differently (large-page advice); the bytes must not change.
    const Bytes frames = image(70000, "HDR", 32);
    const Bytes text = toShex(frames);
    ASSERT_GT(text.size(), std::size_t{5} << 20);
    dir.write("large.shex", text);
    ASSERT_EQ(run({"convert", "large.shex", "large.sbin"}).code, 0);
    EXPECT_TRUE(bytesOf(slurp("large.sbin")) == frames);
}

}  // namespace
