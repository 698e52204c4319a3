// Benchmarks of the trade parse command and both builders, each beside a baseline of the same run.
#include <benchmark/benchmark.h>
#include <json-c/json.h>

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "trade/TradeCommands.h"

namespace {

// A trade message with all 43 data fields of 2 bytes each.
std::string TradeText() {
    std::string t =
        "0000F1000000"
        "9A"
        "7FFFFFFFFFF00000";
    char field[16];
    for (int f = 2; f <= 44; ++f) {
        std::snprintf(field, sizeof field, "0002%02X41", f);
        t += field;
    }
    return t + "00";
}

std::string XmlConfig() {
    std::string x =
        "<?xml version=\"1.0\"?>\n<orbo8583-build-config>\n  <bit number=\"0\" value=\"01\"/>\n";
    for (int f = 2; f <= 44; f += 3) {
        x += "  <bit number=\"" + std::to_string(f) + "\" length=\"4\" value=\"41 42 43 44\"/>\n";
    }
    return x + "</orbo8583-build-config>\n";
}

const char kJsonConfig[] =
    R"({"amt": 100, "term": "T01", "merchant": "M0000001", "trace": 123456, "batch": 7,)"
    R"( "memo": "payment/refund", "flag": true, "rate": 1.5, "zero": 0})";

// Baseline of the parse: white space out and hex to bytes, no decoding.
void BM_TradeHexDecodeBaseline(benchmark::State& state) {
    const std::string text = TradeText();
    std::vector<char> digits(text.size() + 1);
    std::vector<std::uint8_t> bytes(text.size() / 2 + 1);
    for (auto _ : state) {
        StripWhiteSpace(digits.data(), text.c_str());
        HexToBytes(digits.data(), text.size(), bytes.data());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TradeHexDecodeBaseline);

void BM_ParseTradeText(benchmark::State& state) {
    const std::string text = TradeText();
    CommandResult result;
    for (auto _ : state) {
        ParseTradeText(text, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseTradeText);

// Baseline of the XML build: loading the document alone.
void BM_XmlLoadBaseline(benchmark::State& state) {
    const std::string xml = XmlConfig();
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_buffer(xml.data(), xml.size()).status);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_XmlLoadBaseline);

void BM_BuildTradeFromXmlText(benchmark::State& state) {
    const std::string xml = XmlConfig();
    for (auto _ : state) {
        const CommandResult r = BuildTradeFromXmlText(xml);
        benchmark::DoNotOptimize(r.message.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildTradeFromXmlText);

// Baseline of the JSON build: json-c parsing the configuration alone.
void BM_JsonParseBaseline(benchmark::State& state) {
    for (auto _ : state) {
        json_object* o = json_tokener_parse(kJsonConfig);
        benchmark::DoNotOptimize(o);
        json_object_put(o);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JsonParseBaseline);

void BM_BuildJsonFromText(benchmark::State& state) {
    for (auto _ : state) {
        const CommandResult r = BuildJsonFromText(kJsonConfig);
        benchmark::DoNotOptimize(r.message.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildJsonFromText);

}  // namespace
