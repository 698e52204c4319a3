// The trade parse command and the two build commands (XML trade message, JSON packet).
#include "trade/TradeCommands.h"

#include <json-c/json.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <string>

#include "codec/Conversions.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"
#include "trade/Trade.h"
#include "trade/WebJson.h"

namespace {

// A frame text of kMaxMessageText hex digits decodes to at most this many bytes.
constexpr std::size_t kMaxFrameBytes = (kMaxMessageText + 1) / 2;
// The longest value text of a "bit" element (the command's 10240-byte text buffer).
constexpr std::size_t kMaxValueText = kMaxMessageText;
// A JSON configuration describes one packet of at most kMaxTradePayload bytes; larger files, or
// objects with more members than a list can sensibly show, are refused before they cost memory.
constexpr std::size_t kMaxJsonConfigBytes = 1 << 20;
constexpr std::size_t kMaxJsonMembers = 8192;

// A directory opens like a file on some systems and reports an absurd size, which the readers
// would try to allocate: it is refused first.
bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

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
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(kTextTradeParseError, "message text of " + std::to_string(text.size()) +
                                              " characters exceeds " +
                                              std::to_string(kMaxMessageText));
        return;
    }
    // Room for the six head bytes even when the text is shorter: the payload pointer stays inside
    // the buffer, and `readable` keeps every read within the decoded bytes.
    std::array<std::uint8_t, kMaxFrameBytes + 8> bytes;
    const std::size_t n = HexTextToBytes(text, bytes.data());
    const std::size_t decoded = (n + 1) / 2;
    // The length leaves out the six head bytes and the check byte; the frame's length, marker and
    // check byte are not verified. A last field may run past the length into the check byte and
    // then into zeros, exactly as in a zero-filled buffer.
    const auto len = static_cast<std::int32_t>(n / 2) - 7;
    const std::size_t readable = decoded > 6 ? decoded - 6 : 0;
    CWebTrade trade;
    if (trade.UnpackWithin(bytes.data() + 6, len, readable) == -1) {
        result.Fail(kTextTradeParseError, "the trade message does not decode");
        return;
    }
    BuildTradeRows(result.rows, trade);
}

namespace {

void FailConfig(CommandResult& r, std::string detail) {
    r.Fail(kTextConfigParseError, std::move(detail));
}

// Fills the trade codec from the "bit" elements of the root and builds the frame text.
CommandResult BuildTradeFromRoot(const pugi::xml_node& root) {
    CommandResult result;
    CWebTrade trade;
    std::uint8_t commandByte = 0;
    std::string digits;
    int index = 0;
    for (const pugi::xml_node& node : root.children()) {
        if (node.type() != pugi::node_element) continue;
        ++index;
        if (std::strcmp(node.name(), "bit") != 0) continue;
        const char* numberText = node.attribute("number").value();
        const std::int32_t number = DecimalTextToInt(numberText, std::strlen(numberText));
        const char* value = node.attribute("value").value();
        // The emptiness test looks at the attribute text before white space is removed, so a
        // value of white space only is not skipped.
        if (number != 1 && value[0] == '\0') continue;
        auto where = [&] {
            return "element " + std::to_string(index) + " (bit number \"" +
                   std::string(numberText) + "\")";
        };
        const std::size_t valueLen = std::strlen(value);
        if (valueLen > kMaxValueText) {
            FailConfig(result, where() + ": value text of " + std::to_string(valueLen) +
                                   " characters exceeds " + std::to_string(kMaxValueText));
            return result;
        }
        if (number < 0 || number > 44) {
            FailConfig(result,
                       where() + ": field number " + std::to_string(number) + " outside 0..44");
            return result;
        }
        // The bitmap is always computed from the fields present.
        if (number == 1) continue;
        digits.clear();
        for (const char* c = value; *c != '\0'; ++c) {
            if (!IsHexTextSpace(*c)) digits += *c;
        }
        if (number == 0) {
            // Only the first byte counts; a value of white space only leaves the byte as it was.
            if (!digits.empty()) {
                std::uint8_t b[1];
                HexToBytes(digits.data(), std::min<std::size_t>(digits.size(), 2), b);
                commandByte = b[0];
            }
            continue;
        }
        // An odd last digit is dropped: the byte count is digits / 2, rounded down.
        const std::size_t count = digits.size() / 2;
        const FieldAttr& a = trade.m_attr[static_cast<std::size_t>(number)];
        if (count > static_cast<std::size_t>(a.maxLen)) {
            FailConfig(result, where() + ": " + std::to_string(count) + " bytes exceed the " +
                                   std::to_string(a.maxLen) + " of field " +
                                   std::to_string(number));
            return result;
        }
        FieldValue& v = trade.m_value[static_cast<std::size_t>(number)];
        IntToBcd2(v.data.data(), static_cast<std::int32_t>(count));
        HexToBytes(digits.data(), 2 * count, v.data.data() + 2);
        v.data[count + 2] = 0;
        v.length = static_cast<std::int32_t>(count + 2);
    }
    trade.m_value[1].length = 8;

    std::int32_t payloadLen = 1 + 8;
    for (int f = 2; f <= 63; ++f) payloadLen += trade.m_value[static_cast<std::size_t>(f)].length;
    if (payloadLen > kMaxTradePayload) {
        result.Fail(kTextTradeBuildError, "payload of " + std::to_string(payloadLen) +
                                              " bytes exceeds " + std::to_string(kMaxTradePayload));
        return result;
    }
    std::array<std::uint8_t, kMaxTradePayload> payload{};
    payload[0] = commandByte;
    std::int32_t packed = 0;
    if (trade.Pack(payload.data() + 1, &packed) == -1) {
        result.Fail(kTextTradeBuildError, "the trade message does not pack");
        return result;
    }
    std::array<std::uint8_t, kMaxTradePayload + 7> frame;
    std::int32_t frameLen = 0;
    if (!BuildTradeFrame(payload.data(), packed + 1, frame.data(), &frameLen)) {
        result.Fail(kTextTradeBuildError, "the payload does not fit a trade frame");
        return result;
    }
    std::string hex(2 * static_cast<std::size_t>(frameLen) + 1, '\0');
    BytesToHex(frame.data(), static_cast<std::size_t>(frameLen), hex.data());
    hex.pop_back();
    // What the list shows is the trade parse of the text just built.
    ParseTradeText(hex, result);
    result.message = std::move(hex);
    return result;
}

CommandResult BuildTradeFromLoaded(const pugi::xml_document& doc,
                                   const pugi::xml_parse_result& loaded) {
    CommandResult result;
    // An empty document (no bytes, or white space only) has no root: that is the missing root
    // element, not a load failure.
    if (loaded.status != pugi::status_ok && loaded.status != pugi::status_no_document_element) {
        FailConfig(result, std::string(loaded.description()) + " at offset " +
                               std::to_string(loaded.offset));
        return result;
    }
    const pugi::xml_node root = doc.child("orbo8583-build-config");
    if (!root) {
        result.Fail(kTextNoBuildConfigRoot, "no top-level <orbo8583-build-config> element");
        return result;
    }
    return BuildTradeFromRoot(root);
}

}  // namespace

CommandResult BuildTradeFromXmlFile(std::string_view path) {
    if (path.empty()) {
        CommandResult result;
        result.Fail(kTextNoConfigFile);
        return result;
    }
    const std::string file(path);
    if (IsDirectory(file)) {
        CommandResult result;
        FailConfig(result, file + " is a directory");
        return result;
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_file(file.c_str());
    return BuildTradeFromLoaded(doc, loaded);
}

CommandResult BuildTradeFromXmlText(std::string_view xml) {
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_buffer(xml.data(), xml.size());
    return BuildTradeFromLoaded(doc, loaded);
}

namespace {

void AppendJsonRow(FieldRowList& rows, const char* key, std::size_t length, std::string_view v) {
    FieldRow& row = rows.emplace_back();
    SetRowText(row.name, key);
    SetRowText(row.length, std::to_string(length));
    SetRowText(row.value, v);
}

CommandResult BuildJsonFromObject(json_object* config) {
    CommandResult result;
    result.rowEncoding = TextEncoding::Utf8OrGbk;
    result.messageEncoding = TextEncoding::Utf8OrGbk;
    if (config == nullptr || !json_object_is_type(config, json_type_object)) {
        FailConfig(result,
                   config == nullptr ? "not valid JSON" : "the top-level value is not an object");
        return result;
    }
    const std::size_t members = static_cast<std::size_t>(json_object_object_length(config));
    if (members > kMaxJsonMembers) {
        FailConfig(result,
                   std::to_string(members) + " members exceed " + std::to_string(kMaxJsonMembers));
        return result;
    }
    result.rows.reserve(members);
    CWebJson packet;
    json_object_object_foreach(config, key, value) {
        if (value == nullptr) continue;
        if (json_object_is_type(value, json_type_int)) {
            // The row shows json-c's own text of the number; the packet takes it clamped to 32
            // bits.
            std::size_t n = 0;
            const char* s = json_object_to_json_string_length(value, JSON_C_TO_STRING_PLAIN, &n);
            if (s == nullptr) continue;
            AppendJsonRow(result.rows, key, n, std::string_view(s, n));
            packet.AddInt(key, json_object_get_int(value));
        } else if (json_object_is_type(value, json_type_string)) {
            const char* s = json_object_get_string(value);
            const auto n = static_cast<std::size_t>(json_object_get_string_len(value));
            AppendJsonRow(result.rows, key, n, std::string_view(s, n));
            packet.AddString(key, s, n);
        }
    }

    std::array<char, kMaxTradePayload> text;
    std::int32_t n = 0;
    if (packet.ToText(text.data(), &n, kMaxTradePayload) == -1) {
        // The rows stay: the list shows them, then the error.
        const char* whole =
            json_object_to_json_string_ext(packet.m_object.get(), JSON_C_TO_STRING_SPACED);
        result.Fail(kTextJsonBuildError,
                    whole == nullptr ? std::string("json-c gives no text")
                                     : "JSON text of " + std::to_string(std::strlen(whole)) +
                                           " bytes exceeds " + std::to_string(kMaxTradePayload));
        result.failedRows = FailedRows::Stand;
        return result;
    }
    std::array<std::uint8_t, kMaxTradePayload + 7> frame;
    std::int32_t frameLen = 0;
    BuildTradeFrame(reinterpret_cast<const std::uint8_t*>(text.data()), n, frame.data(), &frameLen);
    char head[13];
    char check[3];
    BytesToHex(frame.data(), 6, head);
    BytesToHex(frame.data() + 6 + n, 1, check);
    // The packet text: the frame head and check byte as hex around the JSON text's own bytes.
    result.message.reserve(12 + static_cast<std::size_t>(n) + 2);
    result.message.append(head, 12);
    result.message.append(text.data(), static_cast<std::size_t>(n));
    result.message.append(check, 2);
    return result;
}

struct TokenerDeleter {
    void operator()(json_tokener* t) const { json_tokener_free(t); }
};

}  // namespace

CommandResult BuildJsonFromFile(std::string_view path) {
    CommandResult result;
    if (path.empty()) {
        result.Fail(kTextNoConfigFile);
        return result;
    }
    const std::string file(path);
    if (IsDirectory(file)) {
        FailConfig(result, file + " is a directory");
        return result;
    }
    std::FILE* probe = std::fopen(file.c_str(), "rb");
    if (probe == nullptr) {
        FailConfig(result, "cannot open " + file);
        return result;
    }
    long size = -1;
    if (std::fseek(probe, 0, SEEK_END) == 0) size = std::ftell(probe);
    std::fclose(probe);
    if (size < 0 || static_cast<unsigned long>(size) > kMaxJsonConfigBytes) {
        FailConfig(result, size < 0 ? "cannot read " + file
                                    : "configuration of " + std::to_string(size) +
                                          " bytes exceeds " + std::to_string(kMaxJsonConfigBytes));
        return result;
    }
    const JsonObjectPtr config(json_object_from_file(file.c_str()));
    return BuildJsonFromObject(config.get());
}

CommandResult BuildJsonFromText(std::string_view json) {
    if (json.size() > kMaxJsonConfigBytes) {
        CommandResult result;
        result.rowEncoding = TextEncoding::Utf8OrGbk;
        result.messageEncoding = TextEncoding::Utf8OrGbk;
        FailConfig(result, "configuration of " + std::to_string(json.size()) + " bytes exceeds " +
                               std::to_string(kMaxJsonConfigBytes));
        return result;
    }
    // The same reading as json_object_from_file: one value parsed from the start of the text,
    // at json-c's default nesting depth.
    const std::unique_ptr<json_tokener, TokenerDeleter> tok(json_tokener_new());
    JsonObjectPtr config;
    if (tok)
        config.reset(json_tokener_parse_ex(tok.get(), json.data(), static_cast<int>(json.size())));
    return BuildJsonFromObject(config.get());
}
