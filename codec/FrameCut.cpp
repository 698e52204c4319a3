// Cutting messages from a byte stream by a table's framing.
#include "codec/FrameCut.h"

#include <algorithm>

#include "codec/Conversions.h"
#include "codec/Engine.h"

namespace {

// Where the Length part stands, when every part in front of it is always there.
struct LengthPlace {
    const FramePart* part = nullptr;
    std::size_t offset = 0;
};

LengthPlace FindLength(const FieldTable& t) {
    std::size_t at = 0;
    for (const FramePart& p : t.frame) {
        if (p.kind == FramePartKind::Length) return {&p, at};
        // A part that may or may not be there leaves the length's place unknown.
        if (p.presence != Presence::Always) return {};
        at += static_cast<std::size_t>(std::max(p.bytes, 0));
    }
    return {};
}

// The framing every message carries: the parts always there (the length among them) and the
// trailer.
std::size_t FramingBytes(const FieldTable& t) {
    std::size_t n = 0;
    for (const FramePart& p : t.frame) {
        if (p.kind == FramePartKind::Length || p.presence == Presence::Always) {
            n += static_cast<std::size_t>(std::max(p.bytes, 0));
        }
    }
    for (const FramePart& p : t.trailer) n += static_cast<std::size_t>(std::max(p.bytes, 0));
    return n;
}

// The first marker at a fixed place (in front of the length, or behind it up to the first part
// that may be missing) that the stream contradicts; nullptr: none yet.
const FramePart* WrongMarker(const FieldTable& t, std::span<const std::uint8_t> stream,
                             std::size_t& at) {
    std::size_t pos = 0;
    bool pastLength = false;
    for (const FramePart& p : t.frame) {
        if (pastLength && p.presence != Presence::Always) break;
        pastLength = pastLength || p.kind == FramePartKind::Length;
        if (p.kind == FramePartKind::Marker) {
            for (std::size_t k = 0; k < static_cast<std::size_t>(std::max(p.bytes, 0)); ++k) {
                const std::uint8_t want = k < p.packDefault.size() ? p.packDefault[k] : 0;
                if (pos + k < stream.size() && stream[pos + k] != want) {
                    at = pos + k;
                    return &p;
                }
            }
        }
        pos += static_cast<std::size_t>(std::max(p.bytes, 0));
    }
    return nullptr;
}

}  // namespace

std::string CannotCut(const FieldTable& table) {
    if (FindLength(table).part == nullptr) {
        return "the table has no Length part at a fixed place in front of the message, so "
               "messages cannot be cut from a stream";
    }
    return {};
}

bool FramingFits(const FieldTable& table, std::span<const std::uint8_t> stream) {
    const LengthPlace place = FindLength(table);
    if (place.part == nullptr) return false;
    std::size_t at = 0;
    if (WrongMarker(table, stream, at) != nullptr) return false;
    const auto width = static_cast<std::size_t>(std::max(place.part->bytes, 0));
    if (stream.size() < place.offset + width) {
        // Digits where digits belong, as far as they have come.
        if (place.part->lengthEnc != LengthEnc::Ascii) return true;
        for (std::size_t i = place.offset; i < stream.size(); ++i) {
            if (!IsDecimalDigit(static_cast<char>(stream[i]))) return false;
        }
        return true;
    }
    bool digits = true;
    const std::int64_t value =
        ReadLengthPart(*place.part, stream.data() + place.offset, width, &digits);
    if (!digits) return false;
    const std::int64_t total = FrameTotal(*place.part, static_cast<std::int64_t>(place.offset),
                                          value);
    return total >= static_cast<std::int64_t>(std::max(FramingBytes(table), place.offset + width));
}

const FieldTable* FirstFitting(std::initializer_list<const FieldTable*> tables,
                               std::span<const std::uint8_t> stream) {
    for (const FieldTable* t : tables) {
        if (t != nullptr && FramingFits(*t, stream)) return t;
    }
    return nullptr;
}

FrameCut CutFrame(const FieldTable& table, std::span<const std::uint8_t> stream,
                  std::size_t maxBytes) {
    FrameCut cut;
    const LengthPlace place = FindLength(table);
    if (place.part == nullptr) {
        cut.kind = FrameCut::Kind::Bad;
        cut.reason = CannotCut(table);
        return cut;
    }
    std::size_t at = 0;
    if (const FramePart* wrong = WrongMarker(table, stream, at)) {
        cut.kind = FrameCut::Kind::Bad;
        cut.reason = "no frame: byte " + std::to_string(at) + " is not the frame's \"" +
                     wrong->name + "\"";
        return cut;
    }
    const auto width = static_cast<std::size_t>(std::max(place.part->bytes, 0));
    if (stream.size() < place.offset + width) return cut;
    bool digits = true;
    const std::int64_t value =
        ReadLengthPart(*place.part, stream.data() + place.offset, width, &digits);
    if (!digits) {
        cut.kind = FrameCut::Kind::Bad;
        cut.reason = "the length " + LengthPartText(*place.part, stream.data() + place.offset,
                                                    width) +
                     " is not a number";
        return cut;
    }
    const std::int64_t total =
        FrameTotal(*place.part, static_cast<std::int64_t>(place.offset), value);
    const auto least = static_cast<std::int64_t>(std::max(FramingBytes(table), place.offset + width));
    if (total < least) {
        cut.kind = FrameCut::Kind::Bad;
        cut.reason = "the length states " + std::to_string(value) + ", less than the " +
                     std::to_string(least) + " bytes of the framing";
        return cut;
    }
    cut.length = static_cast<std::size_t>(total);
    if (cut.length > maxBytes) {
        cut.kind = FrameCut::Kind::Bad;
        cut.reason = "oversized: the length announces " + std::to_string(total) +
                     " bytes, more than " + std::to_string(maxBytes);
        return cut;
    }
    if (stream.size() >= cut.length) cut.kind = FrameCut::Kind::Whole;
    return cut;
}
