#include "image/module_name.h"

#include <gtest/gtest.h>

TEST(ModuleName, DirectoryGoesNameIsUpperCasedAndCutAtTheFirstDot) {
    EXPECT_EQ(moduleName("/home/user/images/update.final.sbin"), " UPDATE");
    EXPECT_EQ(moduleName("update.final.sbin"), " UPDATE");
    EXPECT_EQ(moduleName("dir.with.dots/Name_v2"), " NAME_V2");
    EXPECT_EQ(moduleName("/tmp/.hidden.shex"), " ");
    EXPECT_EQ(moduleName("a1018s-r3b.r01"), " A1018S-R3B");
    EXPECT_EQ(moduleName("dir/"), " ");
}

TEST(ModuleName, Latin1NamesUpperCaseByByte) {
    // 0xE9 e-acute -> 0xC9; 0xF7 division sign and 0xFF y-diaeresis have no Latin-1 capital and stay.
    EXPECT_EQ(moduleName("caf\xe9\xf7\xff.sbin"), " CAF\xc9\xf7\xff");
    EXPECT_EQ(moduleName("\xe0\xfe\xdf"), " \xc0\xde\xdf");  // sharp s stays
    // An overlong UTF-8 form is not UTF-8: taken as Latin-1 bytes, where neither byte is a small letter.
    EXPECT_EQ(moduleName("x\xc0\xafy"), " X\xc0\xafY");
}

TEST(ModuleName, Utf8NamesUpperCaseByCodePoint) {
    EXPECT_EQ(moduleName("\xc3\xa9t\xc3\xa9.shex"), " \xc3\x89T\xc3\x89");  // ete -> ETE
    EXPECT_EQ(moduleName("\xc3\xbf"), " \xc5\xb8");                         // y-diaeresis
    EXPECT_EQ(moduleName("\xcf\x83\xcf\x82"), " \xce\xa3\xce\xa3");         // sigma, final sigma
    EXPECT_EQ(moduleName("\xd0\xbf\xd1\x80\xd0\xbe\xd1\x88\xd0\xb8\xd0\xb2\xd0\xba\xd0\xb0\xd1\x91"),
              " \xd0\x9f\xd0\xa0\xd0\x9e\xd0\xa8\xd0\x98\xd0\x92\xd0\x9a\xd0\x90\xd0\x81");  // Cyrillic, yo
    EXPECT_EQ(moduleName("\xc5\x82\xc3\xb3"
                         "d\xc5\xba"),
              " \xc5\x81\xc3\x93"
              "D\xc5\xb9");                                                              // Polish
    EXPECT_EQ(moduleName("\xe6\x97\xa5\xe6\x9c\xac.bin"), " \xe6\x97\xa5\xe6\x9c\xac");  // no case: unchanged
}

TEST(ModuleName, Utf8Validity) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xf0\x9f\x93\xb1"));
    EXPECT_FALSE(isValidUtf8("\xc3"));              // cut short
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xe9t\xe9"));         // Latin-1
}

TEST(ModuleName, UpperCasingKeepsEncodingAndLengthOfEveryShortName) {
    // Every one- and two-byte name: a UTF-8 name stays valid UTF-8 and a Latin-1 one keeps its length, so the
    // window can always tell which decoding to use.
    for (int a = 0; a < 256; ++a) {
        for (int b = -1; b < 256; ++b) {
            std::string name(1, static_cast<char>(a));
            if (b >= 0) name.push_back(static_cast<char>(b));
            const std::string upper = upperCaseName(name);
            if (isValidUtf8(name)) {
                ASSERT_TRUE(isValidUtf8(upper)) << a << " " << b;
            } else {
                ASSERT_EQ(upper.size(), name.size()) << a << " " << b;
            }
        }
    }
}
