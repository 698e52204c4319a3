// The command line's batch mode (--each-line, JSON lines) over 100,000 messages, beside the parse
// command alone over the same messages in the same run.
#ifdef TARNWICK_HAVE_CLI

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchData.h"
#include "cli/EachLine.h"
#include "iso/ParseIso8583.h"

namespace {

constexpr int kMessages = 100000;

/// 100,000 lines, typical 64-field and 128-field messages in turn.
const std::string& Input() {
    static const std::string input = [] {
        const std::string typical64 = GoldenLine("typical64.txt");
        const std::string typical128 = GoldenLine("typical128.txt");
        std::string s;
        for (int i = 0; i < kMessages; ++i) {
            s.append(i % 2 == 0 ? typical64 : typical128);
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
    TimeShellCommand(state, command);
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_CliProgramEachLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

#endif  // TARNWICK_HAVE_CLI
