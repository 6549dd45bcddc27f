// SPDX-License-Identifier: MIT
// Percent-escape throughput: our codec beside libcurl's escape and unescape on
// the same inputs. Every case checks its own output once, untimed, before it
// is measured, and reports an error instead of a figure when the check fails.
#include <curl/curl.h>

#include <climits>
#include <cstring>
#include <string>

#include "bench/bench_common.h"
#include "codec/percent_codec.h"
#include "foundation/ks_string.h"

namespace {

using bench::caseKey;
using bench::firstTime;
using bench::Input;

// One easy handle for the whole run: creating it is not part of what is measured.
class CurlHandle {
  public:
    CurlHandle() : handle_(curl_easy_init()) {}
    ~CurlHandle() { curl_easy_cleanup(handle_); }
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;
    CURL* get() const { return handle_; }

  private:
    CURL* handle_;
};

CURL* curl() {
    static CurlHandle handle;
    return handle.get();
}

// curl_easy_escape returns NULL once its result would reach 24 000 000 bytes
// (libcurl 7.88 caps it at three times its 8 000 000-byte input limit), so
// inputs go through in slices that cannot reach it, into one preallocated result.
constexpr uint64_t kCurlEscapeSlice = 2 * bench::kMiB;

bool curlEscape(const std::string& input, std::string& out) {
    out.clear();
    out.reserve(input.size() * 3);
    for (uint64_t at = 0; at < input.size(); at += kCurlEscapeSlice) {
        const uint64_t n =
            input.size() - at < kCurlEscapeSlice ? input.size() - at : kCurlEscapeSlice;
        char* escaped = curl_easy_escape(curl(), input.data() + at, static_cast<int>(n));
        if (escaped == nullptr) {
            return false;
        }
        out.append(escaped);
        curl_free(escaped);
    }
    return true;
}

bool curlUnescape(const std::string& input, std::string& out) {
    if (input.size() > static_cast<uint64_t>(INT_MAX)) {
        return false;
    }
    int length = 0;
    char* plain = curl_easy_unescape(curl(), input.data(), static_cast<int>(input.size()), &length);
    if (plain == nullptr) {
        return false;
    }
    out.assign(plain, static_cast<uint64_t>(length));
    curl_free(plain);
    return true;
}

std::string bytesOf(const KsString& s) {
    KsString copy(s);
    const char* bytes = copy.utf8View();
    return std::string(bytes, copy.unitCount());
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr("!'()*,-./:_~", c) != nullptr;
}

uint64_t expectedEscapedLength(const std::string& bytes) {
    uint64_t n = 0;
    for (const char c : bytes) {
        n += isUnreserved(static_cast<unsigned char>(c)) ? 1 : 3;
    }
    return n;
}

// Our encoder's output is right when curl decodes it back to `plain` and it
// has exactly one or three bytes per input byte, as the unreserved set says.
const char* checkOurEscaping(const std::string& escaped, const std::string& plain) {
    std::string back;
    if (!curlUnescape(escaped, back)) {
        return "curl_easy_unescape failed on our output";
    }
    if (back != plain) {
        return "our escaped text does not decode to the input";
    }
    if (escaped.size() != expectedEscapedLength(plain)) {
        return "our escaped text has the wrong length";
    }
    return nullptr;
}

void encodeOursKsString(benchmark::State& state, Input input) {
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& plain = bench::inputText(input, size);
    if (firstTime(caseKey("encode", input, "ours_ksstring", size))) {
        KsString out;
        appendPercentEncoded(out, KsString(plain.data(), static_cast<int64_t>(size)));
        if (const char* error = checkOurEscaping(bytesOf(out), bench::expectedUtf8(input, size))) {
            state.SkipWithError(error);
            return;
        }
    }
    for (auto _ : state) {
        KsString text(plain.data(), static_cast<int64_t>(size));
        KsString out;
        appendPercentEncoded(out, text);
        benchmark::DoNotOptimize(out.rawData());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void encodeOursBytes(benchmark::State& state, Input input) {
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& plain = bench::inputText(input, size);
    if (firstTime(caseKey("encode", input, "ours_bytes", size))) {
        KsString out;
        codec::appendPercentEncodedBytes(out, plain.data(), size);
        if (const char* error = checkOurEscaping(bytesOf(out), plain)) {
            state.SkipWithError(error);
            return;
        }
    }
    for (auto _ : state) {
        KsString out;
        codec::appendPercentEncodedBytes(out, plain.data(), size);
        benchmark::DoNotOptimize(out.rawData());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void encodeCurl(benchmark::State& state, Input input) {
    if (curl() == nullptr) {
        state.SkipWithError("curl_easy_init failed");
        return;
    }
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& plain = bench::inputText(input, size);
    if (firstTime(caseKey("encode", input, "curl", size))) {
        std::string escaped;
        std::string back;
        if (!curlEscape(plain, escaped) || !curlUnescape(escaped, back) || back != plain) {
            state.SkipWithError("curl escape does not round-trip the input");
            return;
        }
    }
    std::string out;
    for (auto _ : state) {
        if (!curlEscape(plain, out)) {
            state.SkipWithError("curl_easy_escape failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        // A fresh result each time, as ours builds a fresh KsString.
        std::string().swap(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void decodeOursKsString(benchmark::State& state, Input input) {
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& escaped = bench::escapedText(input, size);
    if (firstTime(caseKey("decode", input, "ours_ksstring", size))) {
        KsString out;
        appendPercentDecoded(out, KsString(escaped.data(), static_cast<int64_t>(escaped.size())), 0,
                             KsString::npos);
        if (bytesOf(out) != bench::expectedUtf8(input, size)) {
            state.SkipWithError("our decoder does not give back the input");
            return;
        }
    }
    for (auto _ : state) {
        KsString text(escaped.data(), static_cast<int64_t>(escaped.size()));
        KsString out;
        appendPercentDecoded(out, text, 0, KsString::npos);
        benchmark::DoNotOptimize(out.rawData());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(escaped.size()));
}

void decodeOursBytes(benchmark::State& state, Input input) {
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& escaped = bench::escapedText(input, size);
    if (firstTime(caseKey("decode", input, "ours_bytes", size))) {
        KsString out;
        codec::appendPercentDecodedBytes(out, escaped.data(), escaped.size(), 0, escaped.size());
        if (bytesOf(out) != bench::expectedUtf8(input, size)) {
            state.SkipWithError("our decoder does not give back the input");
            return;
        }
    }
    for (auto _ : state) {
        KsString out;
        codec::appendPercentDecodedBytes(out, escaped.data(), escaped.size(), 0, escaped.size());
        benchmark::DoNotOptimize(out.rawData());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(escaped.size()));
}

void decodeCurl(benchmark::State& state, Input input) {
    if (curl() == nullptr) {
        state.SkipWithError("curl_easy_init failed");
        return;
    }
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& escaped = bench::escapedText(input, size);
    if (escaped.size() > static_cast<uint64_t>(INT_MAX)) {
        state.SkipWithError("input too long for curl_easy_unescape");
        return;
    }
    if (firstTime(caseKey("decode", input, "curl", size))) {
        std::string back;
        if (!curlUnescape(escaped, back) || back != bench::inputText(input, size)) {
            state.SkipWithError("curl unescape does not give back the input");
            return;
        }
    }
    for (auto _ : state) {
        int length = 0;
        char* plain =
            curl_easy_unescape(curl(), escaped.data(), static_cast<int>(escaped.size()), &length);
        if (plain == nullptr) {
            state.SkipWithError("curl_easy_unescape failed");
            break;
        }
        benchmark::DoNotOptimize(plain);
        benchmark::ClobberMemory();
        curl_free(plain);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(escaped.size()));
}

}  // namespace

namespace bench {

void registerCodecBenchmarks() {
    for (const Input input : {Input::kAscii, Input::kRandomBytes}) {
        const std::string in = inputName(input);
        registerSized("encode/" + in + "/ours_ksstring",
                      [input](benchmark::State& s) { encodeOursKsString(s, input); });
        registerSized("encode/" + in + "/ours_bytes",
                      [input](benchmark::State& s) { encodeOursBytes(s, input); });
        registerSized("encode/" + in + "/curl",
                      [input](benchmark::State& s) { encodeCurl(s, input); });
        registerSized("decode/" + in + "/ours_ksstring",
                      [input](benchmark::State& s) { decodeOursKsString(s, input); });
        registerSized("decode/" + in + "/ours_bytes",
                      [input](benchmark::State& s) { decodeOursBytes(s, input); });
        registerSized("decode/" + in + "/curl",
                      [input](benchmark::State& s) { decodeCurl(s, input); });
    }
}

}  // namespace bench
