// SPDX-License-Identifier: MIT
// UTF-8 -> UTF-16 -> UTF-8 through KsString's views, beside the same round trip
// through iconv. Each case checks once, untimed, that the text comes back intact.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bench_common.h"
#include "foundation/ks_string.h"

namespace {

using bench::caseKey;
using bench::firstTime;
using bench::Input;

class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // One iconv() call over the whole input; the number of bytes written, or
    // -1 when the converter stops early.
    int64_t convert(const char* in, uint64_t inBytes, char* out, uint64_t outBytes) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial shift state
        char* src = const_cast<char*>(in);               // iconv's prototype; it only reads
        size_t srcLeft = inBytes;
        char* dst = out;
        size_t dstLeft = outBytes;
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0) {
            return -1;
        }
        return static_cast<int64_t>(outBytes - dstLeft);
    }

  private:
    iconv_t cd_;
};

// What our round trip leaves: the UTF-8 bytes and the UTF-16 unit count seen
// on the way. Empty bytes on failure.
struct OurTrip {
    std::string bytes;
    uint64_t units = 0;
};

OurTrip ourRoundTrip(const std::string& utf8) {
    KsString s(utf8.data(), static_cast<int64_t>(utf8.size()));
    OurTrip trip;
    s.wideView();
    trip.units = s.unitCount();
    const char* back = s.utf8View();
    trip.bytes.assign(back, s.unitCount());
    return trip;
}

void roundTripOurs(benchmark::State& state, Input input) {
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& text = bench::inputText(input, size);
    if (firstTime(caseKey("roundtrip", input, "ours_ksstring", size))) {
        Iconv toWide("UTF-16LE", "UTF-8");
        std::unique_ptr<char[]> wide(new char[2 * size]);
        const int64_t wideBytes =
            toWide.ok() ? toWide.convert(text.data(), size, wide.get(), 2 * size) : -1;
        const OurTrip trip = ourRoundTrip(text);
        if (trip.bytes != text) {
            state.SkipWithError("KsString round trip changed the text");
            return;
        }
        if (wideBytes < 0 || trip.units * 2 != static_cast<uint64_t>(wideBytes)) {
            state.SkipWithError("KsString UTF-16 form has the wrong length");
            return;
        }
    }
    for (auto _ : state) {
        KsString s(text.data(), static_cast<int64_t>(size));
        benchmark::DoNotOptimize(s.wideView());
        benchmark::DoNotOptimize(s.utf8View());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void roundTripIconv(benchmark::State& state, Input input) {
    const auto size = static_cast<uint64_t>(state.range(0));
    const std::string& text = bench::inputText(input, size);
    Iconv toWide("UTF-16LE", "UTF-8");
    Iconv toUtf8("UTF-8", "UTF-16LE");
    if (!toWide.ok() || !toUtf8.ok()) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    if (firstTime(caseKey("roundtrip", input, "iconv", size))) {
        std::unique_ptr<char[]> wide(new char[2 * size]);
        std::unique_ptr<char[]> back(new char[size]);
        const int64_t wideBytes = toWide.convert(text.data(), size, wide.get(), 2 * size);
        const int64_t backBytes =
            wideBytes < 0
                ? -1
                : toUtf8.convert(wide.get(), static_cast<uint64_t>(wideBytes), back.get(), size);
        if (backBytes != static_cast<int64_t>(size) ||
            std::memcmp(back.get(), text.data(), size) != 0) {
            state.SkipWithError("iconv round trip changed the text");
            return;
        }
    }
    for (auto _ : state) {
        // Fresh buffers each time, as KsString allocates its UTF-16 and UTF-8
        // forms afresh; UTF-16 needs at most two bytes per UTF-8 byte.
        std::unique_ptr<char[]> wide(new char[2 * size]);
        std::unique_ptr<char[]> back(new char[size]);
        const int64_t wideBytes = toWide.convert(text.data(), size, wide.get(), 2 * size);
        const int64_t backBytes =
            wideBytes < 0
                ? -1
                : toUtf8.convert(wide.get(), static_cast<uint64_t>(wideBytes), back.get(), size);
        if (backBytes < 0) {
            state.SkipWithError("iconv failed");
            break;
        }
        benchmark::DoNotOptimize(back.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

}  // namespace

namespace bench {

void registerStringBenchmarks() {
    for (const Input input : {Input::kAscii, Input::kMultilingual}) {
        const std::string in = inputName(input);
        registerSized("roundtrip/" + in + "/ours_ksstring",
                      [input](benchmark::State& s) { roundTripOurs(s, input); });
        registerSized("roundtrip/" + in + "/iconv",
                      [input](benchmark::State& s) { roundTripIconv(s, input); });
    }
}

}  // namespace bench
