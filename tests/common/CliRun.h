// Runs tarnwick-cli in-process for a test: arguments and standard input in, status and output out.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"

/// The outcome of one in-process run.
struct CliRun {
    int status = -1;
    std::string out, err;
};

/// A stream's whole text; the stream is closed.
inline std::string ReadBack(std::FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
    return s;
}

/// Runs the program with args (the program name is added) and the given standard input.
inline CliRun Cli(std::vector<const char*> args, std::string_view input = {}) {
    args.insert(args.begin(), "tarnwick-cli");
    CliStreams io{std::tmpfile(), std::tmpfile(), std::tmpfile()};
    if (!input.empty()) std::fwrite(input.data(), 1, input.size(), io.in);
    std::rewind(io.in);
    CliRun r;
    r.status = RunCli(static_cast<int>(args.size()), args.data(), io);
    std::fclose(io.in);
    r.out = ReadBack(io.out);
    r.err = ReadBack(io.err);
    return r;
}
