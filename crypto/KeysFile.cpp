// The keys file: a terminal's test keys and how MAC and PIN are computed with them (JSON).
#include "crypto/KeysFile.h"

#include <json-c/json.h>

#include <memory>

namespace {

struct JsonPut {
    void operator()(json_object* o) const { json_object_put(o); }
};
using JsonPtr = std::unique_ptr<json_object, JsonPut>;

constexpr std::string_view kMembers[] = {"tmk",          "mak",       "pik",     "tdk",
                                         "macAlgorithm", "pinFormat", "kcvBytes"};

bool ReadKey(json_object* root, const char* name, SecretKey& key, std::string& problem) {
    json_object* v = nullptr;
    if (!json_object_object_get_ex(root, name, &v)) return true;
    const std::string member = "\"" + std::string(name) + "\": ";
    if (!json_object_is_type(v, json_type_string)) {
        problem = member + "must be a string of hex digits";
        return false;
    }
    const std::string_view text(json_object_get_string(v),
                                static_cast<std::size_t>(json_object_get_string_len(v)));
    const HexStatus s = ParseKeyHex(text, key);
    if (s != HexStatus::Ok) {
        problem = member + "holds " + std::string(HexStatusText(s));
        return false;
    }
    if (key.Size() != 8 && key.Size() != 16 && key.Size() != 24) {
        key.Wipe();
        problem = member + "a key must be 8, 16 or 24 bytes";
        return false;
    }
    return true;
}

bool ReadInt(json_object* root, const char* name, int low, int high, int& value,
             std::string& problem) {
    json_object* v = nullptr;
    if (!json_object_object_get_ex(root, name, &v)) return true;
    const std::int64_t n = json_object_get_int64(v);
    if (!json_object_is_type(v, json_type_int) || n < low || n > high) {
        problem = "\"" + std::string(name) + "\": must be a number from " + std::to_string(low) +
                  " to " + std::to_string(high);
        return false;
    }
    value = static_cast<int>(n);
    return true;
}

}  // namespace

bool ParseKeysJson(std::string_view text, KeySet& keys, std::string& problem) {
    keys = KeySet{};
    JsonPtr parsed;
    {
        std::unique_ptr<json_tokener, decltype(&json_tokener_free)> tok(json_tokener_new(),
                                                                        json_tokener_free);
        if (tok) {
            parsed.reset(
                json_tokener_parse_ex(tok.get(), text.data(), static_cast<int>(text.size())));
        }
        // White space may follow the object; anything else may not.
        if (!tok || json_tokener_get_error(tok.get()) != json_tokener_success ||
            text.substr(json_tokener_get_parse_end(tok.get())).find_first_not_of(" \t\r\n") !=
                std::string_view::npos) {
            parsed.reset();
        }
    }
    json_object* root = parsed.get();
    if (root == nullptr || !json_object_is_type(root, json_type_object)) {
        problem = "not a JSON object";
        return false;
    }
    json_object_object_foreach(root, key, value) {
        (void)value;
        bool known = false;
        for (std::string_view m : kMembers) known = known || m == key;
        if (!known) {
            problem = "\"" + std::string(key) + "\": not a member of a keys file";
            return false;
        }
    }
    if (!ReadKey(root, "tmk", keys.tmk, problem) || !ReadKey(root, "mak", keys.mak, problem) ||
        !ReadKey(root, "pik", keys.pik, problem) || !ReadKey(root, "tdk", keys.tdk, problem) ||
        !ReadInt(root, "pinFormat", 0, 4, keys.pinFormat, problem) ||
        !ReadInt(root, "kcvBytes", 3, 4, keys.kcvBytes, problem)) {
        return false;
    }
    json_object* alg = nullptr;
    if (json_object_object_get_ex(root, "macAlgorithm", &alg)) {
        const char* name = json_object_is_type(alg, json_type_string) ? json_object_get_string(alg)
                                                                        : "";
        if (std::string_view(name) != "auto") {
            keys.macAlgorithm = MacAlgorithmFromName(name);
            if (!keys.macAlgorithm) {
                problem = "\"macAlgorithm\": must be unionpay-ecb, x9.9, x9.19 or auto";
                return false;
            }
        }
    }
    return true;
}
