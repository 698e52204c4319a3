// The JSON packet build: a JSON configuration's members into rows and a framed JSON packet text.
#include <json-c/json.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/JsonPtr.h"
#include "codec/Texts.h"
#include "trade/ConfigFile.h"
#include "trade/JsonMembers.h"
#include "trade/Trade.h"
#include "trade/TradeCommands.h"
#include "trade/WebJson.h"

namespace {

// A JSON configuration describes one packet of at most kMaxTradePayload bytes; objects with more
// members than a list can sensibly show are refused before they cost memory.
constexpr std::size_t kMaxJsonMembers = 8192;

CommandResult JsonResult() {
    CommandResult result;
    result.rowEncoding = TextEncoding::Utf8OrGbk;
    result.messageEncoding = TextEncoding::Utf8OrGbk;
    return result;
}

// offset: the byte of the configuration text where the fault lies, when known.
void FailConfig(CommandResult& r, std::string detail, std::int64_t offset = -1) {
    r.Fail(kTextConfigParseError, std::move(detail));
    r.failure.offset = offset;
    r.failure.reason = r.detail;
}

// What a value that the packet does not carry is, for the warning that names its member.
std::string KindOf(json_object* value) {
    switch (json_object_get_type(value)) {
        case json_type_null:
            return "null";
        case json_type_boolean:
            return json_object_get_boolean(value) ? "true" : "false";
        case json_type_double: {
            // json-c keeps the number's text as the file wrote it.
            const char* text = json_object_to_json_string_ext(value, JSON_C_TO_STRING_PLAIN);
            return "the number " + std::string(text != nullptr ? text : "with a fraction");
        }
        case json_type_object:
            return "an object";
        case json_type_array:
            return "an array";
        default:
            return "a value of another kind";
    }
}

// Adds one configuration member to the packet and its row. What the row shows is what is sent:
// a member the packet leaves out has no row, one it changes shows the value sent, and either is
// a warning that names the member.
void AddMember(const char* key, json_object* value, CWebJson& packet, CommandResult& result) {
    if (json_object_is_type(value, json_type_string)) {
        const auto n = static_cast<std::size_t>(json_object_get_string_len(value));
        const std::string_view text(json_object_get_string(value), n);
        AppendMemberRow(result.rows, key, text);
        packet.AddString(key, text.data(), n);
        return;
    }
    if (!json_object_is_type(value, json_type_int)) {
        result.warnings.push_back(MemberName(key) + ": " + KindOf(value) +
                                  " is not sent; the packet carries integers and strings only");
        return;
    }
    // The packet takes integers in 32 bits, clamped, and leaves out those of value 0.
    const std::int32_t sent = json_object_get_int(value);
    if (sent == 0) {
        result.warnings.push_back(MemberName(key) +
                                  ": an integer of value 0 is not sent; the packet leaves it out");
        return;
    }
    const std::string text = std::to_string(sent);
    const char* read = json_object_to_json_string_ext(value, JSON_C_TO_STRING_PLAIN);
    if (read == nullptr || text != read) {
        result.warnings.push_back(
            MemberName(key) + ": an integer outside -2147483648..2147483647 is sent as " + text);
    }
    AppendMemberRow(result.rows, key, text);
    packet.AddInt(key, sent);
}

// The packet text: the frame head and check byte as hex around the JSON text's own bytes.
std::string PacketText(std::string_view json) {
    std::array<std::uint8_t, kMaxTradePayload + 7> frame;
    std::int32_t frameLen = 0;
    BuildTradeFrame(reinterpret_cast<const std::uint8_t*>(json.data()),
                    static_cast<std::int32_t>(json.size()), frame.data(), &frameLen);
    char head[13];
    char check[3];
    BytesToHex(frame.data(), 6, head);
    BytesToHex(frame.data() + 6 + json.size(), 1, check);
    std::string text;
    text.reserve(12 + json.size() + 2);
    text.append(head, 12);
    text.append(json);
    text.append(check, 2);
    return text;
}

// parseError and errorOffset: why the text gave no value and where (json-c's own words).
CommandResult BuildJsonFromObject(json_object* config, std::string parseError,
                                  std::int64_t errorOffset) {
    CommandResult result = JsonResult();
    if (config == nullptr || !json_object_is_type(config, json_type_object)) {
        if (config == nullptr) {
            FailConfig(result, std::move(parseError), errorOffset);
        } else {
            FailConfig(result, "the top-level value is not an object");
        }
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
    json_object_object_foreach(config, key, value) { AddMember(key, value, packet, result); }

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
        result.failure.reason = result.detail;
        result.failedRows = FailedRows::Stand;
        return result;
    }
    result.message = PacketText(std::string_view(text.data(), static_cast<std::size_t>(n)));
    return result;
}

}  // namespace

CommandResult BuildJsonFromFile(std::string_view path) {
    if (path.empty()) {
        CommandResult result;
        result.Fail(kTextNoConfigFile);
        return result;
    }
    std::string text;
    std::string detail;
    if (!ReadConfigFile(path, text, detail)) {
        CommandResult result = JsonResult();
        FailConfig(result, std::move(detail));
        return result;
    }
    return BuildJsonFromText(text);
}

CommandResult BuildJsonFromText(std::string_view json) {
    if (json.size() > kMaxConfigBytes) {
        CommandResult result = JsonResult();
        FailConfig(result, "configuration of " + std::to_string(json.size()) + " bytes exceeds " +
                               std::to_string(kMaxConfigBytes));
        return result;
    }
    // Editors on Windows start UTF-8 files with a byte-order mark, which is no JSON; it is
    // skipped, and offsets count from after it.
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (json.starts_with(kUtf8Bom)) json.remove_prefix(kUtf8Bom.size());
    // The same reading as json_object_from_file: one value parsed from the start of the text,
    // at json-c's default nesting depth.
    const JsonTokenerPtr tok(json_tokener_new());
    if (!tok) return BuildJsonFromObject(nullptr, "json-c has no parser", -1);
    const JsonObjectPtr config(
        json_tokener_parse_ex(tok.get(), json.data(), static_cast<int>(json.size())));
    std::string parseError;
    std::int64_t errorOffset = -1;
    if (!config) {
        const json_tokener_error e = json_tokener_get_error(tok.get());
        const std::size_t at = json_tokener_get_parse_end(tok.get());
        // A text that stops inside a value leaves the parser waiting for more; a JSON null
        // parses successfully into no object.
        if (e == json_tokener_success) {
            parseError = "the top-level value is not an object";
        } else {
            parseError = e == json_tokener_continue ? std::string("unexpected end of the text")
                                                    : std::string(json_tokener_error_desc(e));
            parseError += " at byte offset " + std::to_string(at);
            errorOffset = static_cast<std::int64_t>(at);
        }
    }
    return BuildJsonFromObject(config.get(), std::move(parseError), errorOffset);
}
