// Speed of decoding with a table loaded from a JSON file against the built-in form, same message.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchData.h"
#include "iso/ParseIso8583.h"
#include "tables/TableFile.h"

namespace {

// The built-in form through the parse command (automatic mode, which picks it by the length).
void BuiltinForm(benchmark::State& state, const char* file) {
    const std::string text = GoldenLine(file);
    CommandResult result;
    for (auto _ : state) {
        ParseIso8583Text(text, kInterfaceAuto, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    if (!result.Ok()) state.SkipWithError("golden message does not decode");
    state.SetItemsProcessed(state.iterations());
}

// The shipped JSON table of the same form, loaded once, decoding the same text.
void LoadedTable(benchmark::State& state, const char* table, const char* file) {
    const std::string text = GoldenLine(file);
    const TableLoad load = LoadJsonTable(FindShippedTable(table)->text);
    if (!load.Ok()) {
        state.SkipWithError("table does not load");
        return;
    }
    TableDecoder decoder(*load.table);
    CommandResult result;
    for (auto _ : state) {
        decoder.Parse(text, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    if (!result.Ok()) state.SkipWithError("golden message does not decode");
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BuiltinForm, typical64, "typical64.txt");
BENCHMARK_CAPTURE(LoadedTable, typical64, "unionpay-pos64", "typical64.txt");
BENCHMARK_CAPTURE(BuiltinForm, typical128, "typical128.txt");
BENCHMARK_CAPTURE(LoadedTable, typical128, "unionpay-128", "typical128.txt");

}  // namespace
