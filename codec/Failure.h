// Where and why a decoding stopped, recorded by the engine where it happens.
#pragma once

#include <cstdint>
#include <string>

/// Where and why a decoding stopped. offset: bytes from the message's first byte (a length prefix
/// included) to where the failing field starts or would start.
struct FailureDetail {
    std::int32_t field = -1;   ///< field number; -1: none (the framing, the whole message)
    std::int64_t offset = -1;  ///< -1: not known
    std::string reason;        ///< English, one phrase ("field 43 is not defined")

    [[nodiscard]] bool Known() const { return offset >= 0 || field >= 0 || !reason.empty(); }
};
