// tarnwick-cli serve: the simulated host on the command line.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "host/HostServer.h"

/// Runs `serve` with its options (last one wins); a usage problem goes to usageError, which
/// returns the exit status. The log goes to io.out, one JSON line per exchange.
[[nodiscard]] int RunServeCommand(const CliOptionList& options, const CliStreams& io,
                                  const std::function<int(std::string_view)>& usageError);

/// Appends the log line of one record: {"time","peer","type","request":[rows],"reply":[rows],
/// "ended"[,"error","bytes"]} and a line end.
void AppendServeLogLine(std::string& out, const ServeRecord& record);

/// The text of `serve --help` after its usage line.
extern const std::string_view kServeHelp;
