// SPDX-License-Identifier: MIT
#include "provider/mime/header_text.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace mb::mime {
namespace {

std::string subject(const std::string& text) {
    HeaderField field("Subject");
    field.text(text);
    return std::move(field).finish();
}

std::string displayName(const std::string& name) {
    HeaderField field("To");
    field.phrase(name);
    field.token("<a@example.org>");
    return std::move(field).finish();
}

// The field's encoded words, in order.
std::vector<std::string> encodedWords(const std::string& field) {
    std::vector<std::string> words;
    std::istringstream in(field);
    std::string word;
    while (in >> word) {
        if (word.rfind("=?", 0) == 0) {
            words.push_back(word);
        }
    }
    return words;
}

// The bytes a base64 word stands for.
std::size_t decodedSize(const std::string& word) {
    const std::string payload = word.substr(10, word.size() - 12);
    gsize size = 0;
    g_free(g_base64_decode(payload.c_str(), &size));
    return size;
}

TEST(HeaderText, AsciiTextStaysPlainAndFoldsAtBlanks) {
    EXPECT_EQ(subject("Quarterly report"), "Subject: Quarterly report\n");
    const std::string field = subject(std::string(60, 'a') + " " + std::string(30, 'b'));
    EXPECT_EQ(field, "Subject: " + std::string(60, 'a') + "\n " + std::string(30, 'b') + "\n");
    EXPECT_EQ(subject("  padded  "), "Subject: padded\n");
}

TEST(HeaderText, NoBase64WordButTheLastOfARunIsPadded) {
    const std::string field = subject("Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x93 \xCE\x95\xCE\xBB\xCE\xBB"
                                      "\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC \xE2\x80\x93 \xE6\x97"
                                      "\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82"
                                      "\xB9\xE3\x83\x88 \xE2\x80\x93 \xF0\x9F\x8E\x89 emoji \xE2\x9C\x89");
    const std::vector<std::string> words = encodedWords(field);
    ASSERT_GT(words.size(), 1u) << field;
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i].rfind("=?utf-8?b?", 0) == 0) {
            EXPECT_EQ(decodedSize(words[i]) % 3, 0u) << words[i];
            EXPECT_EQ(words[i].find('='), 0u) << words[i];  // no padding, only the frame's '='
        }
    }
    std::istringstream lines(field);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 78u) << line;
    }
}

TEST(HeaderText, AOneByteCharacterBeforeCjkStillLeavesNoPaddingInside) {
    // 1 + 3k bytes never splits into multiples of 3: Q covers the odd start.
    std::string text = "a";
    for (int i = 0; i < 40; ++i) {
        text += "\xE6\x97\xA5";
    }
    const std::vector<std::string> words = encodedWords(subject(text));
    ASSERT_GT(words.size(), 1u);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i].rfind("=?utf-8?b?", 0) == 0) {
            EXPECT_EQ(decodedSize(words[i]) % 3, 0u) << words[i];
        }
    }
}

TEST(HeaderText, TextThatLooksEncodedIsEncoded) {
    EXPECT_EQ(subject("=?utf-8?b?SGkNCkJjYzogZXZpbEB4Lm9yZw==?="),
              "Subject: =?utf-8?q?=3D=3Futf-8=3Fb=3FSGkNCkJjYzogZXZpbEB4Lm9yZw=3D=3D=3F=3D?=\n");
    EXPECT_EQ(subject("see x=?y"), "Subject: see =?utf-8?q?x=3D=3Fy?=\n");
}

TEST(HeaderText, LabelsAreUtf8EvenForLatin1Text) {
    EXPECT_EQ(subject("M\xC3\xBCller"), "Subject: =?utf-8?q?M=C3=BCller?=\n");
}

TEST(HeaderText, ExtraBlanksAreKeptInsideAWord) {
    EXPECT_EQ(subject("a  b"), "Subject: a =?utf-8?q?_b?=\n");
}

TEST(HeaderText, DisplayNamesAreAtomsQuotedOrEncoded) {
    EXPECT_EQ(displayName("Ann Example"), "To: Ann Example <a@example.org>\n");
    EXPECT_EQ(displayName("Sales, East"), "To: \"Sales, East\" <a@example.org>\n");
    EXPECT_EQ(displayName("Hans M\xC3\xBCller"), "To: =?utf-8?q?Hans_M=C3=BCller?= <a@example.org>\n");
    EXPECT_EQ(displayName("=?utf-8?q?evil9=40x.org?="),
              "To: =?utf-8?b?PT91dGYtOD9xP2V2aWw5PTQweC5vcmc/PQ==?= <a@example.org>\n");
}

TEST(HeaderText, FilenameParameters) {
    EXPECT_EQ(parameter("filename", "report.pdf"), ";\n filename=report.pdf");
    EXPECT_EQ(parameter("filename", "my report.pdf"), ";\n filename=\"my report.pdf\"");
    EXPECT_EQ(parameter("filename", "M\xC3\xBCller.txt"), ";\n filename*=utf-8''M%C3%BCller.txt");
    EXPECT_EQ(parameter("filename", "=?utf-8?q?x?=.txt"),
              ";\n filename*=utf-8''%3D%3Futf-8%3Fq%3Fx%3F%3D.txt");
    EXPECT_EQ(parameter("filename", "back\\slash.txt"), ";\n filename=\"back\\\\slash.txt\"");
    const std::string longName = parameter("filename", std::string(100, 'x') + "\xC3\xBC");
    EXPECT_NE(longName.find(";\n filename*0*=utf-8''xxx"), std::string::npos) << longName;
    EXPECT_NE(longName.find(";\n filename*1*="), std::string::npos) << longName;
    EXPECT_EQ(encodedWordParameter("name", "=?utf-8?q?x?=.txt"),
              ";\n name*=utf-8''%3D%3Futf-8%3Fq%3Fx%3F%3D.txt");
    EXPECT_EQ(encodedWordParameter("name", "say \"hi\".txt"),
              ";\n name*=utf-8''say%20%22hi%22.txt");
    EXPECT_EQ(encodedWordParameter("name", "M\xC3\xBCller.txt"),
              ";\n name=\"=?utf-8?b?TcO8bGxlci50eHQ=?=\"");
}

}  // namespace
}  // namespace mb::mime
