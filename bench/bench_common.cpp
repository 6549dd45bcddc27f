// SPDX-License-Identifier: MIT
#include "bench/bench_common.h"

#include <array>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "codec/percent_codec.h"
#include "foundation/ks_string.h"

namespace bench {
namespace {

// splitmix64: tiny, fast and the same sequence on every platform.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return next() % n; }

  private:
    uint64_t state_;
};

constexpr std::array<const char*, 48> kWords = {
    "the",
    "message",
    "broker",
    "delivers",
    "mail",
    "to",
    "every",
    "queue",
    "and",
    "a",
    "client",
    "reads",
    "it",
    "later",
    "when",
    "server",
    "is",
    "busy",
    "of",
    "request",
    "reply",
    "header",
    "body",
    "address",
    "with",
    "from",
    "subject",
    "meeting",
    "tomorrow",
    "report",
    "attached",
    "please",
    "review",
    "thanks",
    "regards",
    "in",
    "on",
    "for",
    "this",
    "that",
    "was",
    "not",
    "user@example.org",
    "2024-05-17",
    "10:30",
    "v2.1",
    "50%",
    "Q3",
};

constexpr std::array<const char*, 8> kSentenceEnds = {".", ".", ".", ".", "?", "!", ".", "..."};

std::string makeAscii(uint64_t size) {
    Rng rng(0xA5C11ull);
    std::string out;
    out.reserve(size + 64);
    while (out.size() < size) {
        const uint64_t words = 4 + rng.below(14);
        for (uint64_t w = 0; w < words; ++w) {
            std::string word = kWords[rng.below(kWords.size())];
            if (w == 0 && word[0] >= 'a' && word[0] <= 'z') {
                word[0] = static_cast<char>(word[0] - 'a' + 'A');
            }
            const uint64_t decoration = rng.below(40);
            if (decoration == 0) {
                word = "\"" + word + "\"";
            } else if (decoration == 1) {
                word = "(" + word + ")";
            }
            out += word;
            if (w + 1 < words) {
                out += rng.below(9) == 0 ? ", " : (rng.below(30) == 0 ? "; " : " ");
            }
        }
        out += kSentenceEnds[rng.below(kSentenceEnds.size())];
        out += rng.below(6) == 0 ? "\r\n" : " ";
    }
    out.resize(size);
    return out;
}

std::string makeRandomBytes(uint64_t size) {
    Rng rng(0xB17E5ull);
    std::string out(size, '\0');
    for (uint64_t i = 0; i < size; ++i) {
        // 1..255: KsString text ends at its first NUL, so a zero byte would cut it short.
        out[i] = static_cast<char>(1 + rng.below(255));
    }
    return out;
}

// Phrases of 1- to 4-byte UTF-8 sequences, mixed with plain ASCII words.
constexpr std::array<const char*, 16> kPhrases = {
    "Grüße aus München ",
    "café crème à la française ",
    "señor Núñez, año próximo ",
    "Ελληνικά: καλημέρα κόσμε ",
    "Привет, мир! Съешь же ещё ",
    "日本語のテキストです。",
    "中文文本，你好世界。",
    "한국어 문장입니다 ",
    "emoji 😀🎉🚀 ",
    "📧 mail ✉ 📬 ",
    "Zürich Ørsted Łódź ",
    "Ἀθῆναι ",
    "the queue is busy ",
    "please review the report ",
    "subject: meeting ",
    "thanks, regards ",
};

std::string makeMultilingual(uint64_t size) {
    Rng rng(0x3417ull);
    std::string out;
    out.reserve(size);
    for (;;) {
        const std::string phrase = kPhrases[rng.below(kPhrases.size())];
        if (out.size() + phrase.size() > size) {
            break;
        }
        out += phrase;
    }
    // Whole phrases only, so every sequence stays complete; ASCII fills the rest.
    out.append(size - out.size(), ' ');
    return out;
}

// Code points of bytes 0x80-0x9F in Windows-1252; the five bytes it leaves
// undefined map to the C1 control of the same value.
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string cp1252ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const auto b = static_cast<uint8_t>(ch);
        const uint32_t cp = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::map<std::pair<Input, uint64_t>, std::string>& plainCache() {
    static std::map<std::pair<Input, uint64_t>, std::string> cache;
    return cache;
}

std::map<std::pair<Input, uint64_t>, std::string>& escapedCache() {
    static std::map<std::pair<Input, uint64_t>, std::string> cache;
    return cache;
}

}  // namespace

const char* inputName(Input input) {
    switch (input) {
        case Input::kAscii:
            return "ascii";
        case Input::kRandomBytes:
            return "random_bytes";
        case Input::kMultilingual:
            return "multilingual";
    }
    return "unknown";
}

const std::string& inputText(Input input, uint64_t size) {
    auto& cache = plainCache();
    const auto key = std::make_pair(input, size);
    auto it = cache.find(key);
    if (it == cache.end()) {
        std::string text;
        switch (input) {
            case Input::kAscii:
                text = makeAscii(size);
                break;
            case Input::kRandomBytes:
                text = makeRandomBytes(size);
                break;
            case Input::kMultilingual:
                text = makeMultilingual(size);
                break;
        }
        if (text.size() != size || text.find('\0') != std::string::npos) {
            throw std::logic_error("benchmark input has the wrong size or holds a NUL");
        }
        it = cache.emplace(key, std::move(text)).first;
    }
    return it->second;
}

const std::string& expectedUtf8(Input input, uint64_t size) {
    if (input != Input::kRandomBytes) {
        return inputText(input, size);
    }
    static std::map<uint64_t, std::string> cache;
    auto it = cache.find(size);
    if (it == cache.end()) {
        it = cache.emplace(size, cp1252ToUtf8(inputText(input, size))).first;
    }
    return it->second;
}

bool firstTime(const std::string& key) {
    static std::set<std::string> seen;
    return seen.insert(key).second;
}

std::string caseKey(const char* op, Input input, const char* impl, uint64_t size) {
    return std::string(op) + "/" + inputName(input) + "/" + impl + "/" + std::to_string(size);
}

const std::string& escapedText(Input input, uint64_t size) {
    auto& cache = escapedCache();
    const auto key = std::make_pair(input, size);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const std::string& plain = inputText(input, size);
        KsString escaped;
        codec::appendPercentEncodedBytes(escaped, plain.data(), plain.size());
        const char* bytes = escaped.utf8View();
        it = cache.emplace(key, std::string(bytes, escaped.unitCount())).first;
    }
    return it->second;
}

}  // namespace bench
