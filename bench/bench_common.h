// SPDX-License-Identifier: MIT
// What the benchmark programs share: deterministic inputs, made once per kind
// and size and kept for the whole run so that generation never lands in a
// timed loop, and the registration of every case at every size.
#pragma once

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

namespace bench {

enum class Input : int32_t {
    kAscii,         // prose-like ASCII: words, spaces, punctuation, line breaks
    kRandomBytes,   // bytes 1..255 from a fixed-seed generator
    kMultilingual,  // well-formed UTF-8: Latin accents, Greek, Cyrillic, CJK, emoji
};

const char* inputName(Input input);

// Exactly `size` bytes, none of them NUL: KsString text ends at its first NUL,
// so a zero byte would silently shorten what the string-based paths see.
const std::string& inputText(Input input, uint64_t size);

// The UTF-8 bytes KsString should hold for inputText(): the text itself when
// it is ASCII or UTF-8; random bytes are not well-formed UTF-8, so KsString
// takes them as Windows-1252 and this is their UTF-8 form, made here with a
// table of our own so that a check against it does not test the code with itself.
const std::string& expectedUtf8(Input input, uint64_t size);

// inputText() escaped by the byte-level encoder (lower-case hex), the common
// input of every decoder.
const std::string& escapedText(Input input, uint64_t size);

// The sizes every throughput case runs at. The largest runs a fixed, small
// number of iterations so the whole binary stays short.
inline constexpr uint64_t kMiB = uint64_t{1} << 20;
inline constexpr uint64_t kSmallSizes[] = {1 * kMiB, 2 * kMiB};
inline constexpr uint64_t kLargeSize = 64 * kMiB;
inline constexpr int64_t kLargeIterations = 2;
inline constexpr double kSmallMinTimeSeconds = 0.2;

// Whether `key` is seen for the first time: each case checks its output once,
// not on every run the library makes to settle the iteration count.
bool firstTime(const std::string& key);

// "<op>/<input>/<implementation>/<size>", the names run.sh takes apart.
std::string caseKey(const char* op, Input input, const char* impl, uint64_t size);

void registerCodecBenchmarks();
void registerStringBenchmarks();

// Registers `fn` once per size under "<name>/<size>".
template <typename Fn>
void registerSized(const std::string& name, Fn fn) {
    for (const uint64_t size : kSmallSizes) {
        benchmark::RegisterBenchmark(name.c_str(), fn)
            ->Arg(static_cast<int64_t>(size))
            ->Unit(benchmark::kMillisecond)
            ->MinTime(kSmallMinTimeSeconds);
    }
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->Arg(static_cast<int64_t>(kLargeSize))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kLargeIterations);
}

}  // namespace bench
