// What the benchmarks share: the golden messages of the tests, as text or as bytes, and a program
// timed through the shell.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/Conversions.h"

/// The first line of a golden message file of tests/data/iso8583 (hex text).
inline std::string GoldenLine(const char* name) {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" /
                      "data" / "iso8583" / name;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

/// The bytes a golden message file's hex text spells.
inline std::vector<std::uint8_t> GoldenBytes(const char* name) {
    const std::string hex = GoldenLine(name);
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    HexToBytes(hex.data(), hex.size(), bytes.data());
    return bytes;
}

/// Runs command through the shell once per iteration; a run that fails ends the benchmark.
inline void TimeShellCommand(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("tarnwick-cli did not run");
            break;
        }
    }
}
