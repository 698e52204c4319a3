// Speed of the ISO 8583 parse command against a plain hex decode of the same text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "codec/Conversions.h"
#include "iso/ParseIso8583.h"

namespace {

// The parse command, text to rows, reusing one result as batch work does.
void ParseText(benchmark::State& state, const char* file) {
    const std::string text = GoldenLine(file);
    CommandResult result;
    ParseIso8583Text(text, 0, result);
    if (!result.Ok()) {
        state.SkipWithError("golden message does not decode");
        return;
    }
    for (auto _ : state) {
        ParseIso8583Text(text, 0, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rows"] = static_cast<double>(result.rows.size());
}

// The same message decoded with the built-in table as a table value, as a loaded table is.
void ParseWithTable(benchmark::State& state, const char* file, BuiltinForm form) {
    const std::string text = GoldenLine(file);
    TableDecoder decoder(BuiltinTable(form));
    CommandResult result;
    decoder.Parse(text, result);
    if (!result.Ok()) {
        state.SkipWithError("golden message does not decode");
        return;
    }
    for (auto _ : state) {
        decoder.Parse(text, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rows"] = static_cast<double>(result.rows.size());
}

// The one parse driver held across texts, as batch work holds it.
void ParseHeld(benchmark::State& state, const char* file) {
    const std::string text = GoldenLine(file);
    IsoParser parser;
    CommandResult result;
    const ParseRequest request{kInterfaceAuto, nullptr, {}, false};
    parser.Parse(text, request, result);
    if (!result.Ok()) {
        state.SkipWithError("golden message does not decode");
        return;
    }
    for (auto _ : state) {
        parser.Parse(text, request, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    state.SetItemsProcessed(state.iterations());
}

// Baseline: only removing white space and turning the same text into bytes.
void HexDecodeOnly(benchmark::State& state, const char* file) {
    const std::string text = GoldenLine(file);
    std::vector<char> digits(text.size() + 1);
    std::vector<std::uint8_t> bytes(text.size() / 2 + 1);
    for (auto _ : state) {
        std::size_t n = 0;
        for (const char c : text) {
            if (!IsHexTextSpace(c)) digits[n++] = c;
        }
        HexToBytes(digits.data(), n, bytes.data());
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(ParseText, typical64, "typical64.txt");
BENCHMARK_CAPTURE(HexDecodeOnly, typical64, "typical64.txt");
BENCHMARK_CAPTURE(ParseText, typical128, "typical128.txt");
BENCHMARK_CAPTURE(ParseHeld, typical64, "typical64.txt");
BENCHMARK_CAPTURE(ParseHeld, typical128, "typical128.txt");
BENCHMARK_CAPTURE(ParseWithTable, typical64, "typical64.txt", BuiltinForm::kUnionPay64);
BENCHMARK_CAPTURE(ParseWithTable, typical128, "typical128.txt", BuiltinForm::kUnionPay128);
BENCHMARK_CAPTURE(HexDecodeOnly, typical128, "typical128.txt");

}  // namespace
