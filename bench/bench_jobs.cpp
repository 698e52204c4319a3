// The whole program in batch mode on 100,000 128-field messages with JSON output: one thread
// beside the machine's cores (--jobs), in the same run.
#ifdef TARNWICK_HAVE_CLI

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bench/BenchData.h"

namespace {

constexpr int kMessages = 100000;

/// arg: the --jobs count; 0: the default (the machine's cores).
void BM_CliEachLineJobs128(benchmark::State& state) {
    const std::string path = std::string(TARNWICK_BINARY_DIR) + "/bench_jobs_input.txt";
    const std::string typical128 = GoldenLine("typical128.txt");
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        for (int i = 0; i < kMessages; ++i) {
            std::fwrite(typical128.data(), 1, typical128.size(), f);
            std::fputc('\n', f);
        }
        std::fclose(f);
    }
    std::string command = std::string(TARNWICK_BINARY_DIR) +
                          "/cli/tarnwick-cli parse-iso8583 --each-line --format json";
    if (state.range(0) > 0) command += " --jobs " + std::to_string(state.range(0));
    command += " < " + path + " > /dev/null";
    TimeShellCommand(state, command);
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_CliEachLineJobs128)
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

#endif  // TARNWICK_HAVE_CLI
