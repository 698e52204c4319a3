// tarnwick-cli: one table of subcommands, each a thin call of a core command.
#pragma once

#include <cstdio>

/// Exit statuses of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;         // the command failed; its message is on stderr
inline constexpr int kExitUsage = 2;          // bad arguments; usage is on stderr
inline constexpr int kExitNoLengthMatch = 3;  // parse-iso8583 --mode auto: no length form fits

/// The streams a run reads and writes.
struct CliStreams {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

/// Runs tarnwick-cli with argv (argv[0] the program) and returns the exit status.
[[nodiscard]] int RunCli(int argc, const char* const* argv, const CliStreams& io = {});
