// tarnwick-cli serve: the simulated host on the command line.
#pragma once

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"

using CliOptionList = std::vector<std::pair<std::string_view, std::string_view>>;

/// Runs `serve` with its options (last one wins); a usage problem goes to usageError, which
/// returns the exit status. The log goes to io.out, one JSON line per exchange.
[[nodiscard]] int RunServeCommand(const CliOptionList& options, const CliStreams& io,
                                  const std::function<int(std::string_view)>& usageError);

/// The text of `serve --help` after its usage line.
extern const std::string_view kServeHelp;
