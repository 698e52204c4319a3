// tarnwick-cli load: many connections sending messages to a host, each waiting for its reply.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/Latency.h"
#include "cli/Cli.h"
#include "cli/Options.h"
#include "codec/FieldTable.h"
#include "crypto/KeysFile.h"

struct LoadOptions {
    std::string ip = "127.0.0.1";
    std::uint16_t port = 0;
    unsigned connections = 1;
    double rate = 0;               ///< messages per second over all connections; 0: no cap
    std::uint64_t count = 0;       ///< messages to send; 0: until the duration ends
    double durationSeconds = 0;    ///< 0: until count is reached
    int timeoutMs = 5000;          ///< a reply later than this counts as a time-out
    unsigned threads = 0;          ///< 0: one per core, at most one per connection
    std::vector<std::vector<std::uint8_t>> messages;  ///< sent in turn, field 11 renumbered
    const FieldTable* table = nullptr;  ///< the form of messages and replies; null: built-in
    const KeySet* keys = nullptr;  ///< given: each message's MAC computed after 11 is renumbered
    const std::atomic<bool>* stop = nullptr;
    std::function<void(std::uint64_t sent, std::uint64_t replies)> progress;  ///< once a second
};

struct LoadReport {
    std::uint64_t sent = 0;
    std::uint64_t replies = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t resets = 0;       ///< connections reset or closed by the host with a reply due
    std::uint64_t undecodable = 0;  ///< replies that do not frame or decode
    std::uint64_t connectFailures = 0;
    double seconds = 0;
    std::map<std::string, std::uint64_t> codes;  ///< replies by field 39 ("-": none)
    LatencyHistogram latency;
    std::string error;  ///< not empty: the run could not start

    [[nodiscard]] double Throughput() const { return seconds > 0 ? replies / seconds : 0; }
};

/// Runs the load: every connection sends a message, waits for its reply (or the time-out) and
/// sends the next, in an event loop per thread. Field 11 of each message sent is the next of a
/// running number (000001, 000002, …) where the message has one; with keys, its MAC field then
/// holds the MAC computed over the message as sent.
[[nodiscard]] LoadReport RunLoad(const LoadOptions& options);

/// The report as JSON (one line) or as text lines.
[[nodiscard]] std::string LoadReportText(const LoadReport& report, bool json);

/// Runs `load` with its options; FILE ("-" or absent: standard input) holds one hex message a
/// line.
[[nodiscard]] int RunLoadCommand(const CliOptionList& options, std::string_view file,
                                 const CliStreams& io,
                                 const std::function<int(std::string_view)>& usageError);

extern const std::string_view kLoadHelp;
