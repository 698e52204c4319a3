// The JSON packet parse command: a framed JSON packet text back into the rows of its members.
#include "trade/ParseJsonPacket.h"

#include <json-c/json.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/JsonPtr.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"
#include "trade/JsonMembers.h"
#include "trade/Trade.h"

namespace {

// The head of the packet text's mixed form: the trade frame's length and marker, as hex.
constexpr std::size_t kHeadBytes = 6;

// Decodes hex digits (white space skipped) into out; false at a character that is not a digit
// or an odd digit count, with the reason.
bool HexDigitsToBytes(std::string_view text, std::vector<std::uint8_t>& out, std::string& why) {
    std::string digits;
    digits.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsHexTextSpace(c)) continue;
        if (!IsHexDigitChar(c)) {
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

// The member rows of the JSON text, as the JSON build shows them; false with the reason when
// the text is not one JSON object.
bool MemberRows(std::string_view json, FieldRowList& rows, std::string& why) {
    const JsonTokenerPtr tok(json_tokener_new());
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
            AppendMemberRow(rows, key, std::string_view(json_object_get_string(value), n));
        } else {
            // Integers as the build shows them (their decimal text); the other kinds, which the
            // build does not write, with their JSON text so that no member goes unseen.
            std::size_t n = 0;
            const char* s = json_object_to_json_string_length(value, JSON_C_TO_STRING_PLAIN, &n);
            AppendMemberRow(rows, key, s == nullptr ? std::string_view() : std::string_view(s, n));
        }
    }
    return true;
}

std::string Hex2(std::uint8_t b) {
    char out[3];
    BytesToHex(&b, 1, out);
    return std::string(out, 2);
}

// A packet's parts: the six head bytes, the JSON text's bytes and the check byte it carries.
struct Packet {
    std::array<std::uint8_t, kHeadBytes> head{};
    std::string json;
    std::uint8_t given = 0;

    [[nodiscard]] std::size_t Stated() const {
        return head[0] | (static_cast<std::size_t>(head[1]) << 8);
    }
    [[nodiscard]] std::size_t Size() const {
        return json.size() + TradeFrame().head + TradeFrame().tail;
    }
    [[nodiscard]] std::uint8_t Check() const {
        std::vector<std::uint8_t> before(head.begin(), head.end());
        before.insert(before.end(), json.begin(), json.end());
        return TradeCheckByte(before);
    }
    [[nodiscard]] bool Agrees() const { return given == Check() && Stated() == Size(); }
};

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// The same characters in the other encoding (UTF-8 into code page 936 or back), when every one
// of them goes over and comes back unchanged.
std::optional<std::string> InOtherEncoding(std::string_view json, bool utf8) {
    std::string other = utf8 ? Utf8ToGbk(json) : ToUtf8(json, TextEncoding::Gbk);
    const std::string back = utf8 ? ToUtf8(other, TextEncoding::Gbk) : Utf8ToGbk(other);
    if (back != json) return std::nullopt;
    return other;
}

// A packet text's characters beyond ASCII stand for bytes only in an encoding: the text came
// as UTF-8 or as code page 936, and a text copied from one program into another may have
// changed from one to the other on the way. The packet is read in the encoding whose bytes its
// check byte and length agree with, the one it came in first; the note says which.
std::string_view ChooseEncoding(Packet& packet) {
    bool utf8 = IsValidUtf8(packet.json);
    if (!packet.Agrees()) {
        if (std::optional<std::string> other = InOtherEncoding(packet.json, utf8)) {
            Packet converted = packet;
            converted.json = std::move(*other);
            if (converted.Agrees()) {
                packet = std::move(converted);
                utf8 = !utf8;
            }
        }
    }
    return utf8 ? kTextCheckAssumedUtf8 : kTextCheckAssumedGbk;
}

// The value of the row "校验": the check byte, then whether it and the stated length agree.
std::string Verdict(const Packet& packet, std::string_view assumed) {
    std::string verdict = Hex2(packet.given) + " -> ";
    verdict.append(assumed);
    if (packet.Agrees()) return verdict.append(kTextCheckAgrees);
    const bool byteDiffers = packet.given != packet.Check();
    const bool lengthDiffers = packet.Stated() != packet.Size();
    if (byteDiffers) verdict.append(kTextCheckByteDiffers).append(Hex2(packet.Check()));
    if (byteDiffers && lengthDiffers) verdict += "; ";
    if (lengthDiffers) {
        verdict.append(kTextCheckLengthDiffers).append(std::to_string(packet.Size()));
    }
    return verdict;
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
    if (!OpenMessageText(text, kTextJsonPacketParseError, result)) return;
    // The head and check byte: from their hex digits in the mixed form, else from the bytes of
    // the all-hex form.
    Packet packet;
    std::vector<std::uint8_t> bytes;
    std::string why;
    const std::size_t headChars = 2 * kHeadBytes;
    const bool mixed = text.size() > headChars && text[headChars] == '{';
    if (mixed) {
        if (text.size() < headChars + 1 + 2)
            return fail("shorter than a packet's head, '{' and check byte");
        std::vector<std::uint8_t> check;
        if (!HexDigitsToBytes(text.substr(0, headChars), bytes, why) ||
            !HexDigitsToBytes(text.substr(text.size() - 2), check, why)) {
            return fail("head or check byte: " + why);
        }
        // White space among the head's 12 characters leaves fewer than its 6 bytes.
        if (bytes.size() != kHeadBytes) {
            return fail("head of " + std::to_string(bytes.size()) + " bytes, not " +
                        std::to_string(kHeadBytes));
        }
        packet.json = text.substr(headChars, text.size() - headChars - 2);
        packet.given = check[0];
    } else {
        if (!HexDigitsToBytes(text, bytes, why)) return fail(why);
        const std::size_t extra = TradeFrame().head + TradeFrame().tail;
        if (bytes.size() < extra + 1) {
            return fail("frame of " + std::to_string(bytes.size()) + " bytes is too short");
        }
        packet.json.assign(reinterpret_cast<const char*>(bytes.data()) + kHeadBytes,
                           bytes.size() - extra);
        packet.given = bytes.back();
    }
    std::copy_n(bytes.begin(), kHeadBytes, packet.head.begin());
    if (!StartsAsTradeFrame(packet.head)) {
        return fail("frame marker is " + Hex2(packet.head[2]) + ", not F1");
    }
    // Only characters typed as text have an encoding; the bytes of the all-hex form are given.
    const std::string_view assumed =
        mixed && !IsAscii(packet.json) ? ChooseEncoding(packet) : std::string_view();
    if (!MemberRows(packet.json, result.rows, why)) {
        result.rows.clear();
        return fail(why);
    }
    // The last row: whether the frame's own length and check byte agree with its bytes.
    FieldRow& row = result.rows.emplace_back();
    SetRowText(row.name, kTextCheckRow);
    SetRowText(row.length, std::to_string(packet.Stated()));
    SetRowText(row.value, Verdict(packet, assumed));
}
