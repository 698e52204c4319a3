// CWebJson: the JSON packet being built, a json-c object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/JsonPtr.h"

/// The JSON packet being built: one json-c object, members in the order they were added.
class CWebJson {
public:
    CWebJson();
    CWebJson(const CWebJson&) = delete;
    CWebJson& operator=(const CWebJson&) = delete;
    virtual ~CWebJson();

    /// Adds (or replaces) a string member; false for a null key or text or without an object.
    bool AddString(const char* key, const char* text);
    /// The same for a text of len bytes, which may hold zero bytes.
    bool AddString(const char* key, const char* text, std::size_t len);
    /// Adds (or replaces) an integer member; false for a null key, a value of 0 or no object.
    bool AddInt(const char* key, std::int32_t value);
    /// Serialised text (spaced form) copied to out without terminator; its byte count,
    /// 0 for a null out, -1 when json-c gives no text or it exceeds capacity.
    std::int32_t ToText(char* out, std::int32_t* outLen, std::int32_t capacity = 2048);

    JsonObjectPtr m_object;
};
