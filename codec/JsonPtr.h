// Owning pointers to json-c values and parsers: every reader and writer of JSON frees them the
// same way, on every path.
#pragma once

#include <json-c/json.h>

#include <memory>

struct JsonObjectDeleter {
    void operator()(json_object* o) const { json_object_put(o); }
};
using JsonObjectPtr = std::unique_ptr<json_object, JsonObjectDeleter>;

struct JsonTokenerDeleter {
    void operator()(json_tokener* t) const { json_tokener_free(t); }
};
using JsonTokenerPtr = std::unique_ptr<json_tokener, JsonTokenerDeleter>;
