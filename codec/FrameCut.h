// Cutting messages from a byte stream by a table's framing: shared by the send, the simulated
// host and the engine's decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "codec/FieldTable.h"

/// Where the first message of a stream ends.
struct FrameCut {
    enum class Kind : std::uint8_t {
        NeedMore,  ///< not enough bytes yet to tell
        Whole,     ///< the first `length` bytes are one message
        Bad,       ///< the stream cannot be read on (reason)
    };
    Kind kind = Kind::NeedMore;
    std::size_t length = 0;  ///< Whole: the message's bytes; NeedMore: the total announced, 0 unknown
    std::string reason;      ///< Bad: why, in one phrase
};

/// Why the table cannot cut a stream into messages (no Length part at a fixed place in front of
/// the message); empty when it can.
[[nodiscard]] std::string CannotCut(const FieldTable& table);

/// Finds the first message of stream by the table's framing: the markers in front of the Length
/// part must be there, the Length part must be a number, and the total it states must hold the
/// framing and lie within maxBytes.
[[nodiscard]] FrameCut CutFrame(const FieldTable& table, std::span<const std::uint8_t> stream,
                                std::size_t maxBytes);

/// Whether the stream's first bytes read as the table's framing (markers there, a Length part of
/// digits where digits belong): false as soon as a byte says otherwise; true while too few bytes
/// have come to tell.
[[nodiscard]] bool FramingFits(const FieldTable& table, std::span<const std::uint8_t> stream);

/// The first of tables whose framing fits the stream (nullptr: none).
[[nodiscard]] const FieldTable* FirstFitting(std::initializer_list<const FieldTable*> tables,
                                             std::span<const std::uint8_t> stream);
