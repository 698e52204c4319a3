// Speed of building a message from the rows of its decoding (生成iso8583包, build-iso8583).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchData.h"
#include "iso/BuildIso8583.h"
#include "iso/ParseIso8583.h"

namespace {

// Rows of a golden message back to the message, decoded again, as the build command does.
void BuildFromRows(benchmark::State& state, const char* file) {
    const CommandResult parsed = ParseIso8583Text(GoldenLine(file), 0);
    if (!parsed.Ok()) {
        state.SkipWithError("golden message does not decode");
        return;
    }
    for (auto _ : state) {
        CommandResult built = BuildIso8583FromRows(parsed.rows, 0, TextEncoding::Gbk);
        benchmark::DoNotOptimize(built.message.data());
        if (!built.Ok()) state.SkipWithError("the rows do not build");
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BuildFromRows, typical64, "typical64.txt");
BENCHMARK_CAPTURE(BuildFromRows, typical128, "typical128.txt");

}  // namespace
