#include "image/whole_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class WholeFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("whole-file-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path.string();
    }
    fs::path dir_;
};

}  // namespace

TEST_F(WholeFile, ReadsEveryByte) {
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 7);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(readWholeFile(write("big", bytes), out));
    EXPECT_EQ(out, bytes);

    ASSERT_TRUE(readWholeFile(write("empty", {}), out));
    EXPECT_TRUE(out.empty());
}

namespace {
std::uint8_t* hintedData = nullptr;
std::size_t hintedSize = 0;
void recordHint(std::uint8_t* data, std::size_t size) {
    hintedData = data;
    hintedSize = size;
}
}  // namespace

TEST_F(WholeFile, HintSeesTheBufferThatIsThenFilled) {
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(readWholeFile(write("small", {1, 2, 3, 4, 5}), out, recordHint));
    EXPECT_EQ(hintedData, out.data());
    EXPECT_GE(hintedSize, 5u);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));

    hintedData = nullptr;
    ASSERT_TRUE(readWholeFile(write("empty", {}), out, recordHint));
    EXPECT_EQ(hintedData, nullptr);  // nothing to advise about
}

TEST_F(WholeFile, MissingFilesAndDirectoriesAreRefused) {
    std::vector<std::uint8_t> out{1, 2, 3};
    EXPECT_FALSE(readWholeFile((dir_ / "missing").string(), out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(readWholeFile(dir_.string(), out));
    EXPECT_FALSE(readWholeFile("", out));
}
