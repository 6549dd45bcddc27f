// SPDX-License-Identifier: MIT
// mb_bench: every throughput case, registered per size, then the usual
// command line of the benchmark library (--benchmark_filter, _format, _out).
#include <curl/curl.h>

#include "bench/bench_common.h"

int main(int argc, char** argv) {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return 1;
    }
    bench::registerCodecBenchmarks();
    bench::registerStringBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        curl_global_cleanup();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
