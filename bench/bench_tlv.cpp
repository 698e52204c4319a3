// Batch mode with and without field 55's sub-rows (--tlv), over 100,000 terminal messages that
// carry a typical 102-byte field 55, in the same run.
#ifdef TARNWICK_HAVE_CLI

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "cli/EachLine.h"
#include "iso/ParseIso8583.h"

namespace {

constexpr int kMessages = 100000;

// 14 fields with a 2-byte length, TPDU and header; field 55 holds the 14 tags of a request.
constexpr std::string_view kChip64 =
    "00CF600003000060310031000002007020048020C08211166225880123456789000000000000010000000123051000"
    "28"
    "6225880123456789D28122010000313233343536373831323334353637383930313233343531353601029F2608A1B2"
    "C3"
    "D4E5F607189F2701809F101307010103A0A802010A0100000000006DD4A4D79F3704C3C9AC219F3602014395050080"
    "04"
    "00009A032512079C01009F02060000000100005F2A02015682027C009F1A0201569F03060000000000009F3303E0E1"
    "C8"
    "0013220001230005003A4F9C0D12E5B776";

const std::string& Input() {
    static const std::string input = [] {
        std::string s;
        for (int i = 0; i < kMessages; ++i) s.append(kChip64).append("\n");
        return s;
    }();
    return input;
}

/// --each-line --format json: arg 0 plain, 1 with --tlv, 2 with --tlv --mask.
void BM_EachLineJsonField55(benchmark::State& state) {
    EachLineOptions options;
    options.parse = ParseOptions{state.range(0) >= 1, state.range(0) == 2};
    const std::string& input = Input();
    std::string out;
    out.reserve(2 << 20);
    for (auto _ : state) {
        EachLineJson batch(options);
        for (std::size_t at = 0; at < input.size(); at += 1 << 20) {
            batch.Feed(std::string_view(input).substr(at, 1 << 20), out);
            out.clear();
        }
        batch.Finish(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_EachLineJsonField55)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

/// The parse command alone, rows only (what the window does): arg 0 plain, 1 with sub-rows.
void BM_ParseField55(benchmark::State& state) {
    const ParseOptions options{state.range(0) == 1, false};
    CommandResult result;
    for (auto _ : state) {
        for (int i = 0; i < kMessages; ++i) {
            ParseIso8583Text(kChip64, kInterfaceAuto, options, result);
            benchmark::DoNotOptimize(result.rows.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ParseField55)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

#endif
