// The command line's batch mode (--each-line, JSON lines) over 100,000 messages, beside the parse
// command alone over the same messages in the same run.
#ifdef TARNWICK_HAVE_CLI

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/EachLine.h"
#include "iso/ParseIso8583.h"

namespace {

constexpr int kMessages = 100000;

// A terminal message of 12 fields with a 2-byte length, TPDU and header.
constexpr std::string_view kTypical64 =
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123051000"
    "286225880123456789D2812201000031323334353637383132333435363738393031323334353135360013220001"
    "230005003A4F9C0D12E5B776";

// A 128-field message of 21 fields with a 4-digit ASCII length and the 46-byte header.
constexpr std::string_view kTypical128 =
    "303238382E813032383830303031303030302020203636363631323334202020000000003030303030303030003030"
    "30"
    "303030323030F238448188E08010000000001400000131363632323538383031323334353637383930303030303030"
    "3030303030303130303030313230373231303133303030303132333231303133303132303735343131303531303030"
    "38"
    "3031303230303030303830333035303030303132333435363738393031323132333435363738313233343536373839"
    "30"
    "3132333435"
    "5441524E5749434B2054455354204D45524348414E54205348414E47484149202020434E20202020"
    "3135363031313030303030303030303330303830313035303030303139363232353838303132333435363738393031"
    "323030303030303030";

/// 100,000 lines, typical 64-field and 128-field messages in turn.
const std::string& Input() {
    static const std::string input = [] {
        std::string s;
        for (int i = 0; i < kMessages; ++i) {
            s.append(i % 2 == 0 ? kTypical64 : kTypical128);
            s += '\n';
        }
        return s;
    }();
    return input;
}

/// Baseline: the parse command alone, one reused result, over the same lines.
void BM_ParseCommandOverLines(benchmark::State& state) {
    const std::string& input = Input();
    CommandResult result;
    for (auto _ : state) {
        std::size_t rows = 0;
        std::string_view rest = input;
        while (!rest.empty()) {
            const std::size_t nl = rest.find('\n');
            ParseIso8583Text(rest.substr(0, nl), kInterfaceAuto, result);
            rows += result.rows.size();
            rest.remove_prefix(nl + 1);
        }
        benchmark::DoNotOptimize(rows);
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ParseCommandOverLines)->Unit(benchmark::kMillisecond);

/// The batch loop of --each-line --format json: input in 1 MB blocks, output built in a buffer
/// that is handed on (here: dropped) at 1 MB, as the command does with fwrite.
void BM_EachLineJson(benchmark::State& state) {
    const std::string& input = Input();
    std::string out;
    out.reserve(2 << 20);
    std::size_t bytesOut = 0;
    for (auto _ : state) {
        EachLineJson batch(EachLineOptions{});
        for (std::size_t at = 0; at < input.size(); at += 1 << 20) {
            batch.Feed(std::string_view(input).substr(at, 1 << 20), out);
            bytesOut += out.size();
            out.clear();
        }
        batch.Finish(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["out_MB_per_run"] =
        static_cast<double>(bytesOut) / 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EachLineJson)->Unit(benchmark::kMillisecond);

/// The whole program: tarnwick-cli parse-iso8583 --each-line reading a file, writing /dev/null.
void BM_CliProgramEachLine(benchmark::State& state) {
    const std::string path = std::string(TARNWICK_BINARY_DIR) + "/bench_cli_input.txt";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(Input().data(), 1, Input().size(), f);
        std::fclose(f);
    }
    const std::string command = std::string(TARNWICK_BINARY_DIR) +
                                "/cli/tarnwick-cli parse-iso8583 --each-line < " + path +
                                " > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("tarnwick-cli did not run");
            break;
        }
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_CliProgramEachLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

#endif  // TARNWICK_HAVE_CLI
