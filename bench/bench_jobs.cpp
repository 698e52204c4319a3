// The whole program in batch mode on 100,000 128-field messages with JSON output: one thread
// beside the machine's cores (--jobs), in the same run.
#ifdef TARNWICK_HAVE_CLI

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr int kMessages = 100000;

// A 128-field message of 21 fields with a 4-digit ASCII length and the 46-byte header.
constexpr std::string_view kTypical128 =
    "303238382E813032383830303031303030302020203636363631323334202020000000003030303030303030003030"
    "30303030323030F238448188E0801000000000140000013136363232353838303132333435363738393030303030"
    "3030303030303030313030303031323037323130313330303030313233323130313330313230373534313130353130"
    "30"
    "30383031303230303030303830333035303030303132333435363738393031323132333435363738313233343536"
    "373839303132333435"
    "5441524E5749434B2054455354204D45524348414E54205348414E47484149202020434E20202020"
    "3135363031313030303030303030303330303830313035303030303139363232353838303132333435363738393031"
    "323030303030303030";

/// arg: the --jobs count; 0: the default (the machine's cores).
void BM_CliEachLineJobs128(benchmark::State& state) {
    const std::string path = std::string(TARNWICK_BINARY_DIR) + "/bench_jobs_input.txt";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        for (int i = 0; i < kMessages; ++i) {
            std::fwrite(kTypical128.data(), 1, kTypical128.size(), f);
            std::fputc('\n', f);
        }
        std::fclose(f);
    }
    std::string command = std::string(TARNWICK_BINARY_DIR) +
                          "/cli/tarnwick-cli parse-iso8583 --each-line --format json";
    if (state.range(0) > 0) command += " --jobs " + std::to_string(state.range(0));
    command += " < " + path + " > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("tarnwick-cli did not run");
            break;
        }
    }
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
