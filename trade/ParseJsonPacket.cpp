// The JSON packet parse command: a framed JSON packet text back into the rows of its members.
#include "trade/ParseJsonPacket.h"

#include <json-c/json.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Texts.h"
#include "trade/Trade.h"
#include "trade/WebJson.h"

namespace {

constexpr std::size_t kHeadBytes = 6;   // total length (low byte first), F1, three zero bytes
constexpr std::size_t kFrameExtra = 7;  // head and check byte around the payload
constexpr std::uint8_t kMarker = 0xF1;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Decodes hex digits (white space skipped) into out; false at a character that is not a digit
// or an odd digit count, with the reason.
bool HexDigitsToBytes(std::string_view text, std::vector<std::uint8_t>& out, std::string& why) {
    std::string digits;
    digits.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsHexTextSpace(c)) continue;
        if (!IsHexDigit(c)) {
            why = "character " + std::to_string(i) + " is not a hex digit";
            return false;
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        why = "odd number of hex digits (" + std::to_string(digits.size()) + ")";
        return false;
    }
    out.resize(digits.size() / 2);
    HexToBytes(digits.data(), digits.size(), out.data());
    return true;
}

struct TokenerDeleter {
    void operator()(json_tokener* t) const { json_tokener_free(t); }
};

void AppendRow(FieldRowList& rows, std::string_view name, std::size_t length,
               std::string_view value) {
    FieldRow& row = rows.emplace_back();
    SetRowText(row.name, name);
    SetRowText(row.length, std::to_string(length));
    SetRowText(row.value, value);
}

// The member rows of the JSON text, as the JSON build shows them; false with the reason when
// the text is not one JSON object.
bool MemberRows(std::string_view json, FieldRowList& rows, std::string& why) {
    const std::unique_ptr<json_tokener, TokenerDeleter> tok(json_tokener_new());
    if (!tok) {
        why = "json-c has no parser";
        return false;
    }
    const JsonObjectPtr object(
        json_tokener_parse_ex(tok.get(), json.data(), static_cast<int>(json.size())));
    const json_tokener_error e = json_tokener_get_error(tok.get());
    std::size_t end = json_tokener_get_parse_end(tok.get());
    if (!object) {
        why = (e == json_tokener_success    ? std::string("the JSON text is null")
               : e == json_tokener_continue ? std::string("unexpected end of the JSON text")
                                            : std::string(json_tokener_error_desc(e))) +
              " at byte offset " + std::to_string(end);
        return false;
    }
    while (end < json.size() && IsHexTextSpace(json[end])) ++end;
    if (end < json.size()) {
        why = "text after the JSON object at byte offset " + std::to_string(end);
        return false;
    }
    if (!json_object_is_type(object.get(), json_type_object)) {
        why = "the JSON text is not an object";
        return false;
    }
    json_object_object_foreach(object.get(), key, value) {
        if (json_object_is_type(value, json_type_string)) {
            const auto n = static_cast<std::size_t>(json_object_get_string_len(value));
            AppendRow(rows, key, n, std::string_view(json_object_get_string(value), n));
        } else {
            // Integers as the build shows them (their decimal text); the other kinds, which the
            // build does not write, with their JSON text so that no member goes unseen.
            std::size_t n = 0;
            const char* s = json_object_to_json_string_length(value, JSON_C_TO_STRING_PLAIN, &n);
            if (s == nullptr) s = "";
            AppendRow(rows, key, n, std::string_view(s, n));
        }
    }
    return true;
}

std::string Hex2(std::uint8_t b) {
    char out[3];
    BytesToHex(&b, 1, out);
    return std::string(out, 2);
}

}  // namespace

CommandResult ParseJsonPacketText(std::string_view text) {
    CommandResult r;
    ParseJsonPacketText(text, r);
    return r;
}

void ParseJsonPacketText(std::string_view text, CommandResult& result) {
    result.Reset();
    result.rowEncoding = TextEncoding::Utf8OrGbk;
    const auto fail = [&result](std::string why) {
        result.Fail(kTextJsonPacketParseError, std::move(why));
        result.failure.reason = result.detail;
    };
    while (!text.empty() && IsHexTextSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsHexTextSpace(text.back())) text.remove_suffix(1);
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        return fail("text of " + std::to_string(text.size()) + " characters exceeds " +
                    std::to_string(kMaxMessageText));
    }
    // The head and check byte: from their hex digits in the mixed form, else from the bytes of
    // the all-hex form.
    std::vector<std::uint8_t> frame;
    std::string why;
    std::string_view json;
    const std::size_t headChars = 2 * kHeadBytes;
    const bool mixed = text.size() > headChars && text[headChars] == '{';
    if (mixed) {
        if (text.size() < headChars + 1 + 2)
            return fail("shorter than a packet's head, '{' and check byte");
        std::vector<std::uint8_t> check;
        if (!HexDigitsToBytes(text.substr(0, headChars), frame, why) ||
            !HexDigitsToBytes(text.substr(text.size() - 2), check, why)) {
            return fail("head or check byte: " + why);
        }
        json = text.substr(headChars, text.size() - headChars - 2);
        frame.insert(frame.end(), json.begin(), json.end());
        frame.push_back(check[0]);
    } else {
        if (!HexDigitsToBytes(text, frame, why)) return fail(why);
        if (frame.size() < kFrameExtra + 1) {
            return fail("frame of " + std::to_string(frame.size()) + " bytes is too short");
        }
        json = std::string_view(reinterpret_cast<const char*>(frame.data()) + kHeadBytes,
                                frame.size() - kFrameExtra);
    }
    if (frame[2] != kMarker) return fail("frame marker is " + Hex2(frame[2]) + ", not F1");
    if (!MemberRows(json, result.rows, why)) {
        result.rows.clear();
        return fail(why);
    }
    // The last row: whether the frame's own length and check byte agree with its bytes.
    const std::size_t stated = frame[0] | (static_cast<std::size_t>(frame[1]) << 8);
    std::uint8_t check = 0;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) check ^= frame[i];
    const std::uint8_t given = frame.back();
    std::string verdict = Hex2(given) + " -> ";
    if (given == check && stated == frame.size()) {
        verdict += kTextCheckAgrees;
    } else {
        if (given != check) verdict.append(kTextCheckByteDiffers).append(Hex2(check));
        if (given != check && stated != frame.size()) verdict += "; ";
        if (stated != frame.size()) {
            verdict.append(kTextCheckLengthDiffers).append(std::to_string(frame.size()));
        }
    }
    AppendRow(result.rows, kTextCheckRow, stated, verdict);
}
