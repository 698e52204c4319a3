// The trade parse command and the XML trade build command.
#include "trade/TradeCommands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Message.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"
#include "trade/ConfigFile.h"
#include "trade/Trade.h"

namespace {

// A frame text of kMaxMessageText hex digits decodes to at most this many bytes.
constexpr std::size_t kMaxFrameBytes = (kMaxMessageText + 1) / 2;
// The longest value text of a "bit" element (the command's 10240-byte text buffer).
constexpr std::size_t kMaxValueText = kMaxMessageText;

std::string_view UpToZero(std::string_view text) {
    const void* zero = std::memchr(text.data(), 0, text.size());
    return zero == nullptr
               ? text
               : text.substr(
                     0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
}

}  // namespace

CommandResult ParseTradeText(std::string_view text) {
    CommandResult r;
    ParseTradeText(text, r);
    return r;
}

void ParseTradeText(std::string_view text, CommandResult& result) {
    result.Reset();
    // The message edit's text is a zero-terminated text: nothing after a zero byte is part of it.
    text = UpToZero(text);
    if (!OpenMessageText(text, kTextTradeParseError, result)) return;
    // Room for the six head bytes even when the text is shorter: the payload pointer stays inside
    // the buffer, and `readable` keeps every read within the decoded bytes.
    std::array<std::uint8_t, kMaxFrameBytes + 8> bytes;
    const std::size_t n = HexTextToBytes(text, bytes.data());
    const std::size_t decoded = (n + 1) / 2;
    // The length leaves out the frame's head bytes and its check byte; the frame's length, marker
    // and check byte are not verified. A last field may run past the length into the check byte
    // and then into zeros, exactly as in a zero-filled buffer.
    const std::size_t head = TradeFrame().head;
    const auto len = static_cast<std::int32_t>(n / 2) -
                     static_cast<std::int32_t>(head + TradeFrame().tail);
    const std::size_t readable = decoded > head ? decoded - head : 0;
    // Offsets count from the frame's first byte, as those of the ISO 8583 parse count from the
    // message's.
    const DecodeContext ctx{&result.failure, static_cast<std::int64_t>(n / 2), &result.warnings};
    CWebTrade trade;
    if (trade.UnpackReporting(bytes.data() + head, len, readable, static_cast<std::int64_t>(head),
                              ctx) == -1) {
        if (result.failure.reason.empty())
            result.failure.reason = "the trade message does not decode";
        result.Fail(kTextTradeParseError, result.failure.reason);
        // The fields decoded before the failure, shown on request.
        if (result.failure.field >= 0) {
            BuildTradeRows(result.rows, trade);
            result.failedRows = FailedRows::Partial;
        }
        return;
    }
    BuildTradeRows(result.rows, trade);
}

namespace {

// field and offset: the field number and the byte of the configuration text at fault, when
// known.
void FailConfig(CommandResult& r, std::string detail, std::int32_t field = -1,
                std::int64_t offset = -1) {
    r.Fail(kTextConfigParseError, std::move(detail));
    r.failure = {field, offset, r.detail};
}

// "line N" of the element at a byte offset of the configuration text.
std::string LineOf(std::string_view xml, std::ptrdiff_t offset) {
    if (offset < 0 || static_cast<std::size_t>(offset) > xml.size()) return "line ?";
    const auto before = xml.substr(0, static_cast<std::size_t>(offset));
    return "line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 1);
}

// A "number" text that reads as a number without leaving anything unread: white space, one
// sign, digits, white space.
bool IsDecimalText(std::string_view t) {
    const auto space = [](char c) { return IsHexTextSpace(c); };
    while (!t.empty() && space(t.front())) t.remove_prefix(1);
    while (!t.empty() && space(t.back())) t.remove_suffix(1);
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) t.remove_prefix(1);
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What in a "bit" element builds something other than its writer probably meant: the build goes
// on exactly as without these checks, and each place becomes one warning.
void WarnAboutBit(const pugi::xml_node& node, const std::string& where,
                  std::vector<std::string>& warnings) {
    for (const pugi::xml_attribute& a : node.attributes()) {
        const std::string_view name = a.name();
        if (name != "number" && name != "length" && name != "value") {
            warnings.push_back(where + ": attribute \"" + std::string(name) +
                               "\" of <bit> is not number, length or value; ignored");
        }
    }
    const pugi::xml_attribute number = node.attribute("number");
    if (!number) {
        warnings.push_back(where +
                           ": <bit> without a \"number\" attribute reads as 0 (the command code)");
    } else if (!IsDecimalText(number.value())) {
        warnings.push_back(
            where + ": number \"" + std::string(number.value()) +
            "\" is not a decimal number; it reads as " +
            std::to_string(DecimalTextToInt(number.value(), std::strlen(number.value()))));
    }
}

// Reads the "bit" elements of a configuration, one at a time in document order, into the trade
// codec and the command byte.
class BitReader {
public:
    BitReader(std::string_view xml, CWebTrade& trade) : m_xml(xml), m_trade(trade) {}

    /// Takes one child element of the root (index counts them from 1); false, with the result
    /// failed, for one that cannot be built.
    bool Read(const pugi::xml_node& node, int index, CommandResult& result);

    std::uint8_t commandByte = 0;
    std::vector<std::string> warnings;

private:
    // Stores a field's hex digits behind their two-byte BCD byte count; an odd last digit is
    // dropped (the count is digits / 2, rounded down). False when they exceed the field.
    bool StoreField(std::int32_t number, std::size_t& count);

    std::string_view m_xml;
    CWebTrade& m_trade;
    std::string m_digits;
    std::array<bool, 45> m_set{};  // field numbers given so far by an element not skipped
};

bool BitReader::Read(const pugi::xml_node& node, int index, CommandResult& result) {
    const std::string line = LineOf(m_xml, node.offset_debug());
    if (std::strcmp(node.name(), "bit") != 0) {
        warnings.push_back(line + ": element <" + std::string(node.name()) +
                           "> is not <bit>; ignored");
        return true;
    }
    WarnAboutBit(node, line, warnings);
    const char* numberText = node.attribute("number").value();
    const std::int32_t number = DecimalTextToInt(numberText, std::strlen(numberText));
    const char* value = node.attribute("value").value();
    // The emptiness test looks at the attribute text before white space is removed, so a value
    // of white space only is not skipped.
    if (number != 1 && value[0] == '\0') return true;
    const auto fail = [&](const std::string& why, std::int32_t field) {
        FailConfig(result,
                   "element " + std::to_string(index) + " (bit number \"" +
                       std::string(numberText) + "\"): " + why,
                   field, node.offset_debug());
        return false;
    };
    const bool known = number >= 0 && number <= 44;
    const std::size_t valueLen = std::strlen(value);
    if (valueLen > kMaxValueText) {
        return fail("value text of " + std::to_string(valueLen) + " characters exceeds " +
                        std::to_string(kMaxValueText),
                    known ? number : -1);
    }
    if (!known) return fail("field number " + std::to_string(number) + " outside 0..44", -1);
    // The bitmap is always computed from the fields present.
    if (number == 1) return true;
    const auto f = static_cast<std::size_t>(number);
    if (m_set[f]) {
        warnings.push_back(line + ": field " + std::to_string(number) +
                           " is given again; this last value is the one built");
    }
    m_set[f] = true;
    m_digits.clear();
    for (const char* c = value; *c != '\0'; ++c) {
        if (!IsHexTextSpace(*c)) m_digits += *c;
    }
    if (number == 0) {
        // Only the first byte counts; a value of white space only leaves the byte as it was.
        if (!m_digits.empty()) {
            std::uint8_t b[1];
            HexToBytes(m_digits.data(), std::min<std::size_t>(m_digits.size(), 2), b);
            commandByte = b[0];
        }
        return true;
    }
    std::size_t count = 0;
    if (!StoreField(number, count)) {
        return fail(std::to_string(count) + " bytes exceed the " +
                        std::to_string(m_trade.m_attr[f].maxLen) + " of field " +
                        std::to_string(number),
                    number);
    }
    return true;
}

bool BitReader::StoreField(std::int32_t number, std::size_t& count) {
    const auto f = static_cast<std::size_t>(number);
    count = m_digits.size() / 2;
    std::vector<std::uint8_t> data(count);
    HexToBytes(m_digits.data(), 2 * count, data.data());
    std::vector<std::uint8_t> stored;
    const FieldDef& def = BuiltinTable(BuiltinForm::kTrade).fields[f];
    if (!EncodeFieldValue(def, number, data, -1, stored).ok) return false;
    FieldValue& v = m_trade.m_value[f];
    std::memcpy(v.data.data(), stored.data(), stored.size());
    v.data[stored.size()] = 0;
    v.length = static_cast<std::int32_t>(stored.size());
    return true;
}

// Packs the filled codec behind the command byte and frames the payload; the frame's hex text,
// or false with the result failed.
bool PackTradeFrame(CWebTrade& trade, std::uint8_t commandByte, std::string& hex,
                    CommandResult& result) {
    const auto fail = [&result](std::string why) {
        result.Fail(kTextTradeBuildError, std::move(why));
        result.failure.reason = result.detail;
        return false;
    };
    trade.m_value[1].length = 8;
    std::int32_t payloadLen = 1 + 8;
    for (int f = 2; f <= 63; ++f) payloadLen += trade.m_value[static_cast<std::size_t>(f)].length;
    if (payloadLen > kMaxTradePayload) {
        return fail("payload of " + std::to_string(payloadLen) + " bytes exceeds " +
                    std::to_string(kMaxTradePayload));
    }
    std::array<std::uint8_t, kMaxTradePayload> payload{};
    payload[0] = commandByte;
    std::int32_t packed = 0;
    if (trade.Pack(payload.data() + 1, &packed) == -1) {
        return fail("the trade message does not pack");
    }
    std::array<std::uint8_t, kMaxTradePayload + 7> frame;
    std::int32_t frameLen = 0;
    if (!BuildTradeFrame(payload.data(), packed + 1, frame.data(), &frameLen)) {
        return fail("the payload does not fit a trade frame");
    }
    hex.assign(2 * static_cast<std::size_t>(frameLen) + 1, '\0');
    BytesToHex(frame.data(), static_cast<std::size_t>(frameLen), hex.data());
    hex.pop_back();
    return true;
}

// Builds the frame text from the "bit" elements of the root; xml is the configuration text, for
// the places of warnings and failures.
CommandResult BuildTradeFromRoot(const pugi::xml_node& root, std::string_view xml) {
    CommandResult result;
    CWebTrade trade;
    BitReader reader(xml, trade);
    int index = 0;
    for (const pugi::xml_node& node : root.children()) {
        if (node.type() != pugi::node_element) continue;
        if (!reader.Read(node, ++index, result)) return result;
    }
    std::string hex;
    if (!PackTradeFrame(trade, reader.commandByte, hex, result)) return result;
    // What the list shows is the trade parse of the text just built.
    ParseTradeText(hex, result);
    result.message = std::move(hex);
    result.warnings = std::move(reader.warnings);
    return result;
}

CommandResult BuildTradeFromLoaded(const pugi::xml_document& doc,
                                   const pugi::xml_parse_result& loaded, std::string_view xml) {
    CommandResult result;
    // An empty document (no bytes, or white space only) has no root: that is the missing root
    // element, not a load failure.
    if (loaded.status != pugi::status_ok && loaded.status != pugi::status_no_document_element) {
        FailConfig(
            result,
            std::string(loaded.description()) + " at offset " + std::to_string(loaded.offset), -1,
            loaded.offset);
        return result;
    }
    const pugi::xml_node root = doc.child("orbo8583-build-config");
    if (!root) {
        result.Fail(kTextNoBuildConfigRoot, "no top-level <orbo8583-build-config> element");
        result.failure.reason = result.detail;
        return result;
    }
    return BuildTradeFromRoot(root, xml);
}

}  // namespace

CommandResult BuildTradeFromXmlFile(std::string_view path) {
    CommandResult result;
    if (path.empty()) {
        result.Fail(kTextNoConfigFile);
        return result;
    }
    std::string text;
    std::string detail;
    if (!ReadConfigFile(path, text, detail)) {
        FailConfig(result, std::move(detail));
        return result;
    }
    return BuildTradeFromXmlText(text);
}

CommandResult BuildTradeFromXmlText(std::string_view xml) {
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_buffer(xml.data(), xml.size());
    return BuildTradeFromLoaded(doc, loaded, xml);
}
