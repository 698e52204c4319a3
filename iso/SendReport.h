// The send command's part of a command result: bytes sent and how the host's reply ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/// How a host's reply ended: its length form satisfied, the host closed, the connection was
/// reset, the wait timed out, or no reply was awaited.
enum class ReplyEnd { None, Complete, Closed, Reset, Timeout };

struct SendReport {
    std::size_t sent = 0;
    std::vector<std::uint8_t> reply;
    ReplyEnd ended = ReplyEnd::None;
    std::size_t expected = 0;  // the reply's length by its own length form; 0 while unknown
    bool cut = false;          // the reply reached the size cap and was read no further
    bool cancelled = false;    // the user stopped the send
};
