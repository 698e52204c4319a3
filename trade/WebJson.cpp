// CWebJson: the JSON packet being built, on json-c.
#include "trade/WebJson.h"

#include <json-c/json.h>

#include <cstring>

CWebJson::CWebJson() : m_object(json_object_new_object()) {}

CWebJson::~CWebJson() = default;

namespace {

json_object* EnsureObject(JsonObjectPtr& object) {
    if (!object) object.reset(json_object_new_object());
    return object.get();
}

}  // namespace

bool CWebJson::AddString(const char* key, const char* text) {
    if (text == nullptr) return false;
    return AddString(key, text, std::strlen(text));
}

bool CWebJson::AddString(const char* key, const char* text, std::size_t len) {
    if (key == nullptr || text == nullptr || len > 0x7FFFFFFF) return false;
    json_object* object = EnsureObject(m_object);
    if (object == nullptr) return false;
    json_object* value = json_object_new_string_len(text, static_cast<int>(len));
    if (value == nullptr) return false;
    return json_object_object_add(object, key, value) == 0;
}

bool CWebJson::AddInt(const char* key, std::int32_t value) {
    if (key == nullptr || value == 0) return false;
    json_object* object = EnsureObject(m_object);
    if (object == nullptr) return false;
    json_object* member = json_object_new_int(value);
    if (member == nullptr) return false;
    return json_object_object_add(object, key, member) == 0;
}

std::int32_t CWebJson::ToText(char* out, std::int32_t* outLen, std::int32_t capacity) {
    if (out == nullptr) return 0;
    json_object* object = EnsureObject(m_object);
    if (object == nullptr) return -1;
    std::size_t n = 0;
    const char* text = json_object_to_json_string_length(object, JSON_C_TO_STRING_SPACED, &n);
    if (text == nullptr || capacity < 0 || n > static_cast<std::size_t>(capacity)) return -1;
    std::memcpy(out, text, n);
    if (outLen != nullptr) *outLen = static_cast<std::int32_t>(n);
    return static_cast<std::int32_t>(n);
}
