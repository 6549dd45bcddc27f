// SPDX-License-Identifier: MIT
// The runtime's tokenizers and path splitter, asserted as the Microsoft
// runtime behaves. (On Windows, wide_crt_test.cpp installs the invalid-parameter
// handler that lets the error cases return.)
#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>
#include <string>
#include <vector>

#include "pal/win32.h"

namespace {

using WString = std::basic_string<WCHAR>;

std::vector<WString> WideTokens(WString text, const WCHAR* delimiters) {
    std::vector<WString> tokens;
    WCHAR* context = nullptr;
    for (WCHAR* t = wcstok_s(text.data(), delimiters, &context); t != nullptr;
         t = wcstok_s(nullptr, delimiters, &context)) {
        tokens.emplace_back(t);
    }
    return tokens;
}

std::vector<std::string> NarrowTokens(std::string text, const char* delimiters) {
    std::vector<std::string> tokens;
    char* context = nullptr;
    for (char* t = strtok_s(text.data(), delimiters, &context); t != nullptr;
         t = strtok_s(nullptr, delimiters, &context)) {
        tokens.emplace_back(t);
    }
    return tokens;
}

TEST(Tokenize, RunsAndEndsOfDelimitersGiveNoEmptyTokens) {
    using V = std::vector<WString>;
    EXPECT_EQ(WideTokens(WLIT(";;/a b.txt;;;c;"), WLIT(";")), (V{WLIT("/a b.txt"), WLIT("c")}));
    EXPECT_EQ(WideTokens(WLIT(";;;"), WLIT(";")), V{});
    EXPECT_EQ(WideTokens(WLIT(""), WLIT(";")), V{});
    EXPECT_EQ(WideTokens(WLIT("one"), WLIT(";")), V{WLIT("one")});
    EXPECT_EQ(WideTokens(WLIT("a;b"), WLIT("")), V{WLIT("a;b")});

    using N = std::vector<std::string>;
    EXPECT_EQ(NarrowTokens(",a , b;\n\nc,", ",;\n"), (N{"a ", " b", "c"}));
    EXPECT_EQ(NarrowTokens("\n,;", ",;\n"), N{});
}

TEST(Tokenize, KeepsItsPlaceInTheContextAlone) {
    // Two texts split in turn: each call continues from its own context.
    char first[] = "a,b";
    char second[] = "x,y";
    char* c1 = nullptr;
    char* c2 = nullptr;
    EXPECT_STREQ(strtok_s(first, ",", &c1), "a");
    EXPECT_STREQ(strtok_s(second, ",", &c2), "x");
    EXPECT_STREQ(strtok_s(nullptr, ",", &c1), "b");
    EXPECT_STREQ(strtok_s(nullptr, ",", &c2), "y");
    EXPECT_EQ(strtok_s(nullptr, ",", &c1), nullptr);
    EXPECT_EQ(strtok_s(nullptr, ",", &c1), nullptr);  // stays at the end
}

TEST(Tokenize, NullArgumentsFailWithEinval) {
    WCHAR text[] = WLIT("a;b");
    WCHAR* context = nullptr;
    errno = 0;
    EXPECT_EQ(wcstok_s(text, nullptr, &context), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(wcstok_s(text, WLIT(";"), nullptr), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    context = nullptr;
    EXPECT_EQ(wcstok_s(nullptr, WLIT(";"), &context), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(WString(text), WLIT("a;b"));
}

struct Split {
    errno_t result;
    WString dir, name, ext;
};

Split SplitPath(const WCHAR* path, size_t nameCount = 256, size_t extCount = 256) {
    WCHAR drive[3] = {'?', 0};
    WCHAR dir[256] = {'?', 0};
    std::vector<WCHAR> name(nameCount, u'?');
    std::vector<WCHAR> ext(extCount, u'?');
    errno_t r = _wsplitpath_s(path, drive, std::size(drive), dir, std::size(dir), name.data(),
                              name.size(), ext.data(), ext.size());
    EXPECT_EQ(drive[0], 0) << "no drive in these paths";
    return {r, dir, name.data(), ext.data()};
}

void ExpectSplit(const WCHAR* path, const WCHAR* dir, const WCHAR* name, const WCHAR* ext) {
    Split s = SplitPath(path);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.dir, dir);
    EXPECT_EQ(s.name, name);
    EXPECT_EQ(s.ext, ext);
}

TEST(SplitPath, FolderNameAndExtension) {
    ExpectSplit(WLIT("/home/user/report.txt"), WLIT("/home/user/"), WLIT("report"),
                WLIT(".txt"));
    ExpectSplit(WLIT("\\dir\\a.b.c"), WLIT("\\dir\\"), WLIT("a.b"), WLIT(".c"));
    ExpectSplit(WLIT("/dir.d/noext"), WLIT("/dir.d/"), WLIT("noext"), WLIT(""));
    ExpectSplit(WLIT(".bashrc"), WLIT(""), WLIT(""), WLIT(".bashrc"));
    ExpectSplit(WLIT("name."), WLIT(""), WLIT("name"), WLIT("."));
    ExpectSplit(WLIT("/dir/"), WLIT("/dir/"), WLIT(""), WLIT(""));
    ExpectSplit(WLIT("a/b\\c d.e"), WLIT("a/b\\"), WLIT("c d"), WLIT(".e"));
    ExpectSplit(WLIT(""), WLIT(""), WLIT(""), WLIT(""));
}

TEST(SplitPath, APartThatDoesNotFitEmptiesEveryOutput) {
    // "report" needs 7 units with its terminator.
    Split s = SplitPath(WLIT("/d/report.txt"), 6);
    EXPECT_EQ(s.result, ERANGE);
    EXPECT_EQ(s.dir, WLIT(""));
    EXPECT_EQ(s.name, WLIT(""));
    EXPECT_EQ(s.ext, WLIT(""));
    EXPECT_EQ(SplitPath(WLIT("/d/report.txt"), 7).result, 0);
    EXPECT_EQ(SplitPath(WLIT("/d/report.txt"), 7, 4).result, ERANGE);
}

TEST(SplitPath, OutputsMayBeLeftOut) {
    WCHAR name[16];
    WCHAR ext[16];
    EXPECT_EQ(_wsplitpath_s(WLIT("/d/a.txt"), nullptr, 0, nullptr, 0, name, 16, ext, 16), 0);
    EXPECT_EQ(WString(name) + ext, WLIT("a.txt"));
    EXPECT_EQ(_wsplitpath_s(nullptr, nullptr, 0, nullptr, 0, name, 16, ext, 16), EINVAL);
    // A buffer without a size, or a size without a buffer.
    EXPECT_EQ(_wsplitpath_s(WLIT("a"), nullptr, 0, nullptr, 0, name, 0, ext, 16), EINVAL);
    EXPECT_EQ(_wsplitpath_s(WLIT("a"), nullptr, 3, nullptr, 0, name, 16, ext, 16), EINVAL);
}

}  // namespace
