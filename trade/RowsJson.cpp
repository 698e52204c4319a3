// Reading rows back from the JSON that the parse commands print: {"rows":[{"name":…,"value":…}]}.
#include "trade/RowsJson.h"

#include <json-c/json.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "codec/Texts.h"
#include "trade/ConfigFile.h"
#include "trade/WebJson.h"

namespace {

// The text of a string member, or nothing when it is missing (ok) or not a string (not ok).
bool StringMember(json_object* row, const char* key, std::string_view& out) {
    json_object* v = nullptr;
    if (!json_object_object_get_ex(row, key, &v) || v == nullptr) return true;
    if (!json_object_is_type(v, json_type_string)) return false;
    out = std::string_view(json_object_get_string(v),
                           static_cast<std::size_t>(json_object_get_string_len(v)));
    return true;
}

// The field number a row carries ("field"), or -1 when it has none; false when it is not a field
// number.
bool FieldMember(json_object* row, std::int32_t& out) {
    out = -1;
    json_object* v = nullptr;
    if (!json_object_object_get_ex(row, "field", &v) || v == nullptr) return true;
    if (!json_object_is_type(v, json_type_int)) return false;
    const std::int64_t n = json_object_get_int64(v);
    if (n < 0 || n > 128) return false;
    out = static_cast<std::int32_t>(n);
    return true;
}

bool IsSummary(json_object* row) {
    json_object* v = nullptr;
    return json_object_object_get_ex(row, "summary", &v) && v != nullptr &&
           json_object_is_type(v, json_type_boolean) && json_object_get_boolean(v) != 0;
}

}  // namespace

bool ReadRowsJson(std::string_view json, FieldRowList& rows, std::string& why) {
    rows.clear();
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (json.starts_with(kUtf8Bom)) json.remove_prefix(kUtf8Bom.size());
    const JsonTokenerPtr tok(json_tokener_new());
    if (!tok) {
        why = "json-c has no parser";
        return false;
    }
    const JsonObjectPtr root(
        json_tokener_parse_ex(tok.get(), json.data(), static_cast<int>(json.size())));
    if (!root) {
        const json_tokener_error e = json_tokener_get_error(tok.get());
        why = (e == json_tokener_continue ? std::string("unexpected end of the text")
                                          : std::string(json_tokener_error_desc(e))) +
              " at byte offset " + std::to_string(json_tokener_get_parse_end(tok.get()));
        if (e == json_tokener_success) why = "the top-level value is not an object";
        return false;
    }
    json_object* list = nullptr;
    if (!json_object_is_type(root.get(), json_type_object) ||
        !json_object_object_get_ex(root.get(), "rows", &list) ||
        !json_object_is_type(list, json_type_array)) {
        why = "no \"rows\" array in a top-level object";
        return false;
    }
    const std::size_t n = json_object_array_length(list);
    rows.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        json_object* row = json_object_array_get_idx(list, i);
        std::string_view name;
        std::string_view value;
        if (!json_object_is_type(row, json_type_object) || !StringMember(row, "name", name) ||
            !StringMember(row, "value", value)) {
            why = "row " + std::to_string(i + 1) +
                  " is not an object with string members \"name\" and \"value\"";
            rows.clear();
            return false;
        }
        std::string_view path;
        std::int32_t field = -1;
        if (!StringMember(row, "path", path) || !FieldMember(row, field)) {
            why = "row " + std::to_string(i + 1) +
                  ": \"field\" is not a field number or \"path\" is not a string";
            rows.clear();
            return false;
        }
        FieldRow& r = rows.emplace_back();
        SetRowText(r.value, value);
        r.summary = IsSummary(row);
        // Placed by number where the row says it: a sub-row (a path, or a TLV tag's indented
        // name) under its field, else the field itself; rows without one go by their name.
        const bool indented = name.starts_with(' ');
        if (field >= 0 && (!path.empty() || indented)) {
            r.parent = static_cast<std::int16_t>(field);
        } else if (field >= 0) {
            r.field = static_cast<std::int16_t>(field);
        }
        if (!path.empty()) {
            // The path is the sub-row's name (the row cannot point into the JSON text).
            std::string named(static_cast<std::size_t>(2 * std::count(path.begin(), path.end(), '.')), ' ');
            named.append(path);
            SetRowText(r.name, named);
        } else {
            SetRowText(r.name, name);
        }
    }
    return true;
}

CommandResult BuildFromRowsJson(std::string_view json, const RowsBuilder& build) {
    FieldRowList rows;
    std::string why;
    if (!ReadRowsJson(json, rows, why)) {
        CommandResult result;
        result.Fail(kTextConfigParseError, std::move(why));
        return result;
    }
    return build(rows);
}

CommandResult BuildFromRowsFile(std::string_view path, const RowsBuilder& build) {
    CommandResult result;
    if (path.empty()) {
        result.Fail(kTextNoConfigFile);
        return result;
    }
    std::string text;
    std::string detail;
    if (!ReadConfigFile(path, text, detail)) {
        result.Fail(kTextConfigParseError, std::move(detail));
        return result;
    }
    return BuildFromRowsJson(text, build);
}
