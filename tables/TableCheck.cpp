// Checks and completions that every loaded table goes through, whatever its file form.
#include "tables/TableCheck.h"

#include <algorithm>

#include "codec/Engine.h"

std::int32_t PrefixCapacity(const FieldDef& f) {
    switch (f.prefixEnc) {
        case PrefixEnc::Binary:
            return f.prefixBytes == 1 ? 255 : 65535;
        case PrefixEnc::Ascii:
            return f.prefixBytes == 2 ? 99 : f.prefixBytes == 3 ? 999 : 9999;
        case PrefixEnc::Bcd:
            return f.prefixBytes == 1 ? 99 : 999;
    }
    return 0;
}

void CheckFieldLength(const FieldDef& f, const std::string& where,
                      std::vector<std::string>& problems) {
    if (f.fixed || f.maxLen <= 0) return;
    const std::int32_t cap = PrefixCapacity(f);
    if (f.maxLen > cap) {
        problems.push_back(where + ", key \"length\": " + std::to_string(f.maxLen) +
                           " is more than its prefix can state (at most " + std::to_string(cap) +
                           ")");
    }
}

namespace {

std::int32_t EncodedBytes(const FieldDef& f) {
    return f.enc == DataEnc::Bcd ? (f.maxLen + 1) / 2 : f.maxLen;
}

// A marker's fixed bytes: at least one, and exactly its width.
void CheckMarker(const FramePart& p, const std::string& place,
                 std::vector<std::string>& problems) {
    if (p.kind != FramePartKind::Marker) return;
    if (p.bytes <= 0 || p.packDefault.size() != static_cast<std::size_t>(p.bytes)) {
        problems.push_back(place + ": a marker needs its bytes (\"pack\" as hex)");
    }
}

// The trailer: markers, then at most one check byte, last, whose range starts in front of the
// message type so that it lies before the check byte in every message.
void CheckTrailer(const FieldTable& t, std::int32_t frameBytes,
                  std::vector<std::string>& problems) {
    if (t.trailer.size() > kMaxFrameParts) {
        problems.push_back("key \"trailer\": " + std::to_string(t.trailer.size()) +
                           " parts, more than " + std::to_string(kMaxFrameParts));
    }
    std::int32_t trailerBytes = 0;
    for (std::size_t i = 0; i < t.trailer.size(); ++i) {
        const FramePart& p = t.trailer[i];
        const std::string place = "trailer part " + std::to_string(i + 1);
        trailerBytes += p.bytes;
        if (p.kind == FramePartKind::Marker) {
            CheckMarker(p, place, problems);
            continue;
        }
        if (p.kind != FramePartKind::Check) {
            problems.push_back(place + ": only markers and a check byte follow the message");
            continue;
        }
        if (i + 1 != t.trailer.size()) {
            problems.push_back(place + ": the check byte must be the trailer's last part");
        }
        if (p.bytes != 1) {
            problems.push_back(place + ": a check byte has 1 byte, not " +
                               std::to_string(p.bytes));
        }
        if (p.checkFrom < 0 || p.checkFrom > frameBytes) {
            problems.push_back(place + ", key \"from\": " + std::to_string(p.checkFrom) +
                               " lies past the framing in front of the message type (" +
                               std::to_string(frameBytes) + " bytes)");
        }
    }
    if (trailerBytes > kMaxFrameBytes) {
        problems.push_back("key \"trailer\": the parts add up to " +
                           std::to_string(trailerBytes) + " bytes, more than " +
                           std::to_string(kMaxFrameBytes));
    }
}

// The MAC settings: a MAC field that holds 8 bytes, an input that exists, a known algorithm.
void CheckMac(const FieldTable& t, std::int32_t frameBytes, std::vector<std::string>& problems) {
    const bool stated = t.macInput != MacInput::Bytes || t.macFrom >= 0 ||
                        t.macForm != MacForm::Algorithm || !t.macAlgorithm.empty() ||
                        t.macSeparator != " ";
    if (t.macField <= 0 || static_cast<std::size_t>(t.macField) >= t.fields.size()) {
        if (stated) problems.emplace_back("mac, key \"field\": missing: the field that carries the MAC");
        return;
    }
    const FieldDef& mac = t.fields[static_cast<std::size_t>(t.macField)];
    if (mac.Defined() && (!mac.fixed || EncodedBytes(mac) != 8)) {
        problems.push_back("mac, key \"field\": field " + std::to_string(t.macField) +
                           " must be fixed at 8 bytes to hold a MAC");
    }
    if (t.macInput == MacInput::Fields) {
        bool any = false;
        for (std::size_t f = 0; f < t.fields.size(); ++f) {
            if (!t.fields[f].inMac) continue;
            const std::string where = "field " + std::to_string(f) + ", key \"mac\": ";
            if (!t.fields[f].Defined()) {
                problems.push_back(where + "the field is not defined");
            } else if (f >= static_cast<std::size_t>(t.macField)) {
                problems.push_back(where + "the MAC input ends before the MAC field " +
                                   std::to_string(t.macField));
            } else {
                any = true;
            }
        }
        if (!any) {
            problems.emplace_back(
                "mac, key \"input\": \"fields\" but no field before the MAC field is marked");
        }
        if (t.macSeparator.size() > kMaxMacSeparator) {
            problems.push_back("mac, key \"separator\": more than " +
                               std::to_string(kMaxMacSeparator) + " bytes");
        }
    } else if (t.macFrom > frameBytes) {
        problems.push_back("mac, key \"from\": offset " + std::to_string(t.macFrom) +
                           " lies past the framing in front of the message type (" +
                           std::to_string(frameBytes) + " bytes)");
    }
    if (!t.macAlgorithm.empty() &&
        std::find(std::begin(kTableMacAlgorithms), std::end(kTableMacAlgorithms),
                  t.macAlgorithm) == std::end(kTableMacAlgorithms)) {
        problems.push_back("mac, key \"algorithm\": unknown algorithm \"" + t.macAlgorithm + "\"");
    }
}

}  // namespace

void DefaultHeadRows(FieldTable& t, bool typeGiven, bool bitmapGiven) {
    // The bitmap as stored, its byte count as the length: 8 or 16 with a secondary bitmap.
    if (!bitmapGiven) t.bitmapRow = HeadRow{"Bit 1", "", 0, false};
    if (typeGiven) return;
    const FieldDef& type = t.fields[0];
    t.typeRow.name = "Type";
    t.typeRow.lengthText = std::to_string(type.maxLen > 0 ? type.maxLen : 4);
    t.typeRow.shownBytes = type.fixed ? EncodedBytes(type) : 0;
    t.typeRow.withText = type.enc == DataEnc::Ascii;
}

void CompleteTable(FieldTable& t, std::vector<std::string>& problems) {
    if (t.fields.empty()) return;
    const FieldDef& type = t.fields[0];
    if (!type.Defined()) {
        problems.emplace_back("field 0: missing: the message type must be defined");
    } else if (!type.fixed) {
        problems.emplace_back("field 0, key \"prefix\": the message type must be Fixed");
    }
    FieldDef& bitmap = t.fields[1];
    bitmap.fixed = true;
    bitmap.enc = DataEnc::Binary;
    const std::int32_t bitmapBytes = t.bitmap.bits / 8;
    bitmap.maxLen = t.bitmap.enc == BitmapEnc::Ascii ? 2 * bitmapBytes : bitmapBytes;
    if (t.frame.size() > kMaxFrameParts) {
        problems.push_back("key \"frame\": " + std::to_string(t.frame.size()) +
                           " parts, more than " + std::to_string(kMaxFrameParts));
    }
    std::int32_t frameBytes = 0;
    bool onlyMarkersBefore = true;
    for (std::size_t i = 0; i < t.frame.size(); ++i) {
        const FramePart& p = t.frame[i];
        const std::string place = "frame part " + std::to_string(i + 1);
        if (p.kind == FramePartKind::Length && !onlyMarkersBefore) {
            problems.push_back(place + ": a length part must come first (after markers only)");
        }
        if (p.kind != FramePartKind::Marker) onlyMarkersBefore = false;
        if (p.kind == FramePartKind::Check) {
            problems.push_back(place + ": a check byte stands after the message, in the trailer");
        }
        CheckMarker(p, place, problems);
        std::int32_t reach = 0;
        for (std::size_t k = i; k < t.frame.size(); ++k) reach += t.frame[k].bytes;
        for (const ByteTest& b : p.detect) {
            if (b.offset >= reach) {
                problems.push_back(place + ", key \"detect\": offset " + std::to_string(b.offset) +
                                   " lies past the framing (" + std::to_string(reach) +
                                   " bytes from this part on)");
            }
        }
        frameBytes += p.bytes;
    }
    if (frameBytes > kMaxFrameBytes) {
        problems.push_back("key \"frame\": the parts add up to " + std::to_string(frameBytes) +
                           " bytes, more than " + std::to_string(kMaxFrameBytes));
    }
    CheckTrailer(t, frameBytes, problems);
    if (t.macField != 0 && !t.fields[static_cast<std::size_t>(t.macField)].Defined()) {
        problems.push_back("pack, key \"macField\": field " + std::to_string(t.macField) +
                           " is not defined");
    }
    CheckMac(t, frameBytes, problems);
}
