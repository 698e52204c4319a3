// tarnwick-cli read-capture: the messages of a capture file, replies paired with requests.
#pragma once

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Options.h"

/// Runs `read-capture` with its options (last one wins) on the capture file path; a usage
/// problem goes to usageError, which returns the exit status.
[[nodiscard]] int RunReadCaptureCommand(const CliOptionList& options, std::string_view path,
                                        const CliStreams& io,
                                        const std::function<int(std::string_view)>& usageError);

/// The text of `read-capture --help` after its usage line.
extern const std::string_view kReadCaptureHelp;
