// The golden message files of tests/data/iso8583, for the test folders built with their path.
#pragma once

#include <fstream>
#include <string>

/// The first line of a golden message file of tests/data/iso8583, without its line end.
inline std::string GoldenText(const std::string& name) {
    std::ifstream in(std::string(TARNWICK_TEST_DATA) + "/iso8583/" + name);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
