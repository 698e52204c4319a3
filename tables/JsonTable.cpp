// Reading a JSON field table (moov-io's field vocabulary plus bitmap, framing and row rules).
#include <json-c/json.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/IsoCodes.h"
#include "codec/JsonPtr.h"
#include "tables/JsonScan.h"
#include "tables/TableCheck.h"
#include "codec/TextDecode.h"
#include "tables/TableFile.h"

namespace {

constexpr std::size_t kMaxDepth = 32;

/// Reads one JSON object's members by key, and reports keys that it does not know.
class Reader {
public:
    Reader(json_object* object, std::string where, std::vector<std::string>& problems)
        : m_object(object), m_where(std::move(where)), m_problems(problems) {}

    /// The place of key in problem texts: `field 2, key "prefix"`.
    [[nodiscard]] std::string Place(std::string_view key) const {
        std::string p = m_where;
        if (!p.empty()) p += ", ";
        return p + "key \"" + std::string(key) + "\"";
    }
    void Problem(std::string_view key, std::string_view what) {
        m_problems.push_back(Place(key) + ": " + std::string(what));
    }
    [[nodiscard]] json_object* Get(std::string_view key) {
        m_known.emplace_back(key);
        json_object* v = nullptr;
        if (!json_object_object_get_ex(m_object, std::string(key).c_str(), &v)) return nullptr;
        return v;
    }
    [[nodiscard]] bool Has(std::string_view key) {
        return json_object_object_get_ex(m_object, std::string(key).c_str(), nullptr);
    }
    std::optional<std::string> Text(std::string_view key) {
        json_object* v = Get(key);
        if (v == nullptr) return std::nullopt;
        if (!json_object_is_type(v, json_type_string)) {
            Problem(key, "must be a text in double quotes");
            return std::nullopt;
        }
        return std::string(json_object_get_string(v),
                           static_cast<std::size_t>(json_object_get_string_len(v)));
    }
    std::optional<std::int64_t> Integer(std::string_view key, std::int64_t lo, std::int64_t hi) {
        json_object* v = Get(key);
        if (v == nullptr) return std::nullopt;
        if (!json_object_is_type(v, json_type_int)) {
            Problem(key, "must be a whole number");
            return std::nullopt;
        }
        const std::int64_t n = json_object_get_int64(v);
        if (n < lo || n > hi) {
            Problem(key, std::to_string(n) + " is outside " + std::to_string(lo) + ".." +
                             std::to_string(hi));
            return std::nullopt;
        }
        return n;
    }
    std::optional<bool> Flag(std::string_view key) {
        json_object* v = Get(key);
        if (v == nullptr) return std::nullopt;
        if (!json_object_is_type(v, json_type_boolean)) {
            Problem(key, "must be true or false");
            return std::nullopt;
        }
        return json_object_get_boolean(v) != 0;
    }
    /// One of the words; the index of the word, or nullopt (absent, or a problem reported).
    std::optional<std::size_t> Word(std::string_view key,
                                    std::initializer_list<std::string_view> words) {
        const auto text = Text(key);
        if (!text) return std::nullopt;
        std::size_t i = 0;
        for (std::string_view w : words) {
            if (*text == w) return i;
            ++i;
        }
        std::string list;
        for (std::string_view w : words) list.append(list.empty() ? "" : ", ").append(w);
        Problem(key, "unknown word \"" + *text + "\" (expected one of " + list + ")");
        return std::nullopt;
    }
    json_object* Object(std::string_view key) {
        json_object* v = Get(key);
        if (v != nullptr && !json_object_is_type(v, json_type_object)) {
            Problem(key, "must be an object { … }");
            return nullptr;
        }
        return v;
    }
    json_object* Array(std::string_view key) {
        json_object* v = Get(key);
        if (v != nullptr && !json_object_is_type(v, json_type_array)) {
            Problem(key, "must be an array [ … ]");
            return nullptr;
        }
        return v;
    }
    /// Counts keys as known that this object may hold but that are not read on every path.
    void Expect(std::initializer_list<std::string_view> keys) {
        m_known.insert(m_known.end(), keys.begin(), keys.end());
    }
    /// Reports every member whose key no Get asked for, with the known key it is nearest to
    /// when that is a slip of a letter or two ("lenght" for "length").
    void UnknownKeys() {
        json_object_object_foreach(m_object, key, value) {
            (void)value;
            const std::string_view k(key);
            if (std::find(m_known.begin(), m_known.end(), k) != m_known.end()) continue;
            std::string what = "unknown key";
            if (const std::string_view near = NearestKey(k); !near.empty()) {
                what += " (did you mean \"" + std::string(near) + "\"?)";
            }
            Problem(key, what);
        }
    }
    [[nodiscard]] const std::string& Where() const { return m_where; }

private:
    /// The known key within two edits (a swap of neighbours counting one) of key; empty if none.
    [[nodiscard]] std::string_view NearestKey(std::string_view key) const {
        std::string_view best;
        std::size_t bestDistance = key.size() <= 3 ? 1 : 2;
        for (const std::string& known : m_known) {
            const std::size_t d = EditDistance(key, known);
            if (d <= bestDistance && (best.empty() || d < EditDistance(key, best))) best = known;
        }
        return best;
    }
    static std::size_t EditDistance(std::string_view a, std::string_view b) {
        // Optimal string alignment: insertions, deletions, changes and swaps of neighbours.
        std::vector<std::vector<std::size_t>> d(a.size() + 1,
                                                std::vector<std::size_t>(b.size() + 1));
        for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
        for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            for (std::size_t j = 1; j <= b.size(); ++j) {
                const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
                }
            }
        }
        return d[a.size()][b.size()];
    }

    json_object* m_object;
    std::string m_where;
    std::vector<std::string>& m_problems;
    std::vector<std::string> m_known;
};

/// Bytes from a hex text ("6000070000"); nullopt when it is not an even count of hex digits.
std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto r = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, bytes[i], 16);
        if (r.ec != std::errc() || r.ptr != hex.data() + 2 * i + 2) return std::nullopt;
    }
    return bytes;
}

/// A hex byte given as "F0".
std::optional<std::uint8_t> HexByte(Reader& r, std::string_view key) {
    const auto text = r.Text(key);
    if (!text) return std::nullopt;
    const auto bytes = HexBytes(*text);
    if (!bytes || bytes->size() != 1) {
        r.Problem(key, "must be one byte as two hex digits, such as \"F0\"");
        return std::nullopt;
    }
    return (*bytes)[0];
}

/// The prefix words and what they mean.
struct PrefixWord {
    std::string_view word;
    bool fixed;
    PrefixEnc enc;
    std::int32_t bytes;
};
constexpr PrefixWord kPrefixes[] = {
    {"Fixed", true, PrefixEnc::Bcd, 0},        {"ASCII.Fixed", true, PrefixEnc::Bcd, 0},
    {"BCD.Fixed", true, PrefixEnc::Bcd, 0},    {"Binary.Fixed", true, PrefixEnc::Bcd, 0},
    {"Hex.Fixed", true, PrefixEnc::Bcd, 0},    {"BCD.LL", false, PrefixEnc::Bcd, 1},
    {"BCD.LLL", false, PrefixEnc::Bcd, 2},     {"ASCII.LL", false, PrefixEnc::Ascii, 2},
    {"ASCII.LLL", false, PrefixEnc::Ascii, 3}, {"ASCII.LLLL", false, PrefixEnc::Ascii, 4},
    {"Binary.L", false, PrefixEnc::Binary, 1}, {"Binary.LL", false, PrefixEnc::Binary, 2},
};

enum class TextRule { None, Data, Stored };

std::optional<TextRule> ReadTextRule(Reader& r, std::string_view key) {
    const auto w = r.Word(key, {"none", "data", "stored"});
    if (!w) return std::nullopt;
    return static_cast<TextRule>(*w);
}

/// The meanings of a shared code list, keyed by the three-digit numeric code: "ISO 4217" gives
/// "CNY 人民币" (letters and name), "ISO 3166" the country's name.
std::optional<std::vector<ValueMeaning>> CodeListValues(std::string_view list, bool gbk) {
    std::vector<ValueMeaning> values;
    const auto add = [&](int numeric, std::string meaning) {
        ValueMeaning& m = values.emplace_back();
        m.from = std::to_string(1000 + numeric).substr(1);
        m.meaning = gbk ? Utf8ToGbk(meaning) : std::move(meaning);
    };
    if (list == "ISO 4217") {
        for (const IsoCurrency& c : IsoCurrencies()) {
            add(c.numeric, std::string(c.letters) + " " + std::string(c.chinese));
        }
    } else if (list == "ISO 3166") {
        for (const IsoCountry& c : IsoCountries()) add(c.numeric, std::string(c.chinese));
    } else {
        return std::nullopt;
    }
    return values;
}

/// `"values": {"51": "余额不足", "9*": "…", "00-09": "…"}`: single values first, then ranges,
/// then prefixes, longest first, so that the most precise meaning wins. `"values": "ISO 4217"`
/// or `"ISO 3166"` names a shared code list instead.
std::vector<ValueMeaning> ReadValues(Reader& r, bool gbk, std::vector<std::string>& problems) {
    std::vector<ValueMeaning> values;
    json_object* v = r.Get("values");
    if (v != nullptr && json_object_is_type(v, json_type_string)) {
        const std::string_view list(json_object_get_string(v),
                                    static_cast<std::size_t>(json_object_get_string_len(v)));
        if (auto listed = CodeListValues(list, gbk)) return std::move(*listed);
        r.Problem("values", "unknown code list \"" + std::string(list) +
                                "\" (expected \"ISO 4217\", \"ISO 3166\" or an object { … })");
        return values;
    }
    json_object* object = r.Object("values");
    if (object == nullptr) return values;
    const std::string where = r.Place("values");
    json_object_object_foreach(object, key, value) {
        const std::string_view k(key);
        if (!json_object_is_type(value, json_type_string)) {
            problems.push_back(where + ", key \"" + std::string(k) +
                               "\": the meaning must be a text in double quotes");
            continue;
        }
        ValueMeaning m;
        // Meanings stand in the rows' value texts: in the table's charset.
        m.meaning.assign(json_object_get_string(value),
                         static_cast<std::size_t>(json_object_get_string_len(value)));
        if (gbk) m.meaning = Utf8ToGbk(m.meaning);
        const std::size_t dash = k.find('-');
        if (!k.empty() && k.back() == '*') {
            m.prefix = true;
            m.from = k.substr(0, k.size() - 1);
        } else if (dash != std::string_view::npos && dash > 0 && 2 * dash + 1 == k.size()) {
            m.from = k.substr(0, dash);
            m.to = k.substr(dash + 1);
            if (m.to < m.from) {
                problems.push_back(where + ", key \"" + std::string(k) +
                                   "\": the range ends before it starts");
                continue;
            }
        } else {
            m.from = k;
        }
        values.push_back(std::move(m));
    }
    const auto rank = [](const ValueMeaning& m) { return m.prefix ? 2 : m.to.empty() ? 0 : 1; };
    std::stable_sort(values.begin(), values.end(), [&](const ValueMeaning& a, const ValueMeaning& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return a.prefix && a.from.size() > b.from.size();
    });
    return values;
}

std::optional<OverLength> ReadOverLength(Reader& r) {
    const auto w = r.Word("overLength", {"cut", "whole", "refuse"});
    if (!w) return std::nullopt;
    return static_cast<OverLength>(*w);
}

const PrefixWord* FindPrefix(std::string_view word) {
    for (const auto& p : kPrefixes) {
        if (p.word == word) return &p;
    }
    return nullptr;
}

/// `"tag": {"length": 2, "enc": "ASCII", "prefix": "ASCII.LL"}`: how tagged sub-fields open
/// (moov-io's tag spec; its "pad" and "sort" are accepted and not used). With `"enc":
/// "BER-TLV"`, berTlv is set instead: the field is an IC card data list.
TagSpec ReadTagSpec(Reader& r, bool digits, bool& berTlv, std::vector<std::string>& problems) {
    TagSpec tag;
    json_object* object = r.Object("tag");
    if (object == nullptr) return tag;
    Reader t(object, r.Place("tag"), problems);
    (void)t.Get("pad");
    (void)t.Get("padding");
    (void)t.Get("sort");
    const auto enc = t.Word("enc", {"BCD", "ASCII", "Binary", "BER-TLV"});
    if (enc && *enc == 3) {
        berTlv = true;
        t.UnknownKeys();
        return tag;
    }
    if (enc) tag.enc = static_cast<DataEnc>(*enc);
    if (digits && tag.enc != DataEnc::Bcd && enc) {
        t.Problem("enc", "the tags of a BCD field's sub-fields are digits: \"BCD\"");
    }
    if (digits) tag.enc = DataEnc::Bcd;
    if (const auto length = t.Integer("length", 1, 8)) {
        tag.length = static_cast<std::int32_t>(*length);
    } else if (!t.Has("length")) {
        t.Problem("length", "missing: how many characters, digits or bytes a tag takes");
    }
    if (const auto word = t.Text("prefix")) {
        const PrefixWord* p = FindPrefix(*word);
        if (p == nullptr || p->fixed) {
            t.Problem("prefix", "must state a length: BCD.LL, ASCII.LL, Binary.L …");
        } else if (digits && p->enc == PrefixEnc::Binary) {
            t.Problem("prefix", "a BCD field's lengths are digits: BCD or ASCII");
        } else {
            tag.prefixBytes = p->bytes;
            tag.prefixEnc = p->enc;
        }
    }
    t.UnknownKeys();
    return tag;
}

/// Whether key is a tag of spec's width and encoding; hex tags are made upper-case.
bool ReadTagText(const TagSpec& spec, std::string& key) {
    const auto width = static_cast<std::size_t>(spec.length);
    switch (spec.enc) {
        case DataEnc::Ascii:
            return key.size() == width;
        case DataEnc::Bcd:
            return key.size() == width &&
                   std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
        case DataEnc::Binary:
            if (key.size() != 2 * width || !HexBytes(key)) return false;
            std::transform(key.begin(), key.end(), key.begin(),
                           [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
            return true;
    }
    return false;
}

std::vector<SubField> ReadSubFields(Reader& r, const std::string& parentPath, bool bcdParent,
                                    const TagSpec& tag, int depth, bool gbk,
                                    std::vector<std::string>& problems);

/// The key "tag" and the sub-fields it opens, of a field, a layout or a sub-field.
void ReadSubLayout(Reader& r, const std::string& path, bool digits, int depth, bool gbk,
                   TagSpec& tag, std::vector<SubField>& subs, bool* berTlv,
                   std::vector<std::string>& problems) {
    bool ber = false;
    tag = ReadTagSpec(r, digits, ber, problems);
    if (ber) {
        if (berTlv == nullptr) {
            r.Problem("tag", "BER-TLV: only a whole field is an IC card data list (\"tlv\": true)");
        } else {
            *berTlv = true;
        }
        if (r.Has("subfields")) {
            r.Problem("subfields", "a BER-TLV list is named by the IC card tag dictionary");
        }
        (void)r.Get("subfields");
        return;
    }
    subs = ReadSubFields(r, path, digits, tag, depth, gbk, problems);
}

/// `"subfields": {"1": {"name": …, "length": 2, "enc": "BCD", "values": {…}}, "2": …}`: the
/// positional sub-fields of moov-io's Composite, in the order of their numbers; or, after a
/// "tag", the tagged ones keyed by their tags (`"AS": {"prefix": "ASCII.LL", "length": 99}`).
/// Depth 1 may nest one level further.
std::vector<SubField> ReadSubFields(Reader& r, const std::string& parentPath, bool bcdParent,
                                    const TagSpec& tag, int depth, bool gbk,
                                    std::vector<std::string>& problems) {
    std::vector<std::pair<int, SubField>> numbered;
    json_object* object = r.Object("subfields");
    if (object == nullptr) return {};
    if (depth > 2) {
        r.Problem("subfields", "sub-fields nest at most two levels (60.2.1)");
        return {};
    }
    int order = 0;
    json_object_object_foreach(object, key, value) {
        std::string k(key);
        int number = ++order;
        if (tag.Tagged()) {
            if (!ReadTagText(tag, k)) {
                problems.push_back(r.Place("subfields") + ", key \"" + k + "\": not a tag of " +
                                   std::to_string(tag.length) +
                                   (tag.enc == DataEnc::Binary ? " bytes (hex)"
                                    : tag.enc == DataEnc::Bcd  ? " digits"
                                                               : " characters"));
                continue;
            }
        } else {
            const auto res = std::from_chars(k.data(), k.data() + k.size(), number);
            if (k.empty() || res.ec != std::errc() || res.ptr != k.data() + k.size() ||
                number < 1) {
                problems.push_back(r.Place("subfields") + ", key \"" + k +
                                   "\": not a sub-field number");
                continue;
            }
        }
        const std::string path = parentPath + "." + k;
        if (!json_object_is_type(value, json_type_object)) {
            problems.push_back("sub-field " + path + ": must be an object {\"length\":…}");
            continue;
        }
        Reader sr(value, "sub-field " + path, problems);
        SubField sf;
        sf.path = path;
        auto name = sr.Text("name");
        if (const auto description = sr.Text("description"); !name && description) {
            name = description;
        }
        if (name) sf.name = *name;
        (void)sr.Get("type");
        if (json_object* padding = sr.Object("padding")) {
            // moov-io's padding: an edit shorter than its slot is filled with the pad.
            Reader pr(padding, sr.Place("padding"), problems);
            if (const auto side = pr.Word("type", {"Left", "Right"})) {
                sf.padSide = *side == 0 ? PadSide::Left : PadSide::Right;
            }
            if (const auto pad = pr.Text("pad")) {
                if (pad->size() == 1 && static_cast<unsigned char>((*pad)[0]) >= 0x20 &&
                    static_cast<unsigned char>((*pad)[0]) < 0x7F) {
                    sf.padChar = (*pad)[0];
                } else {
                    pr.Problem("pad", "must be one character, such as \"0\" or \" \"");
                }
            }
            pr.UnknownKeys();
        }
        const auto prefix = sr.Text("prefix");
        const auto length = sr.Integer("length", 1, kMaxFieldLength);
        if (length) sf.length = static_cast<std::int32_t>(*length);
        if (tag.Tagged()) {
            sf.tag = k;
            const PrefixWord* p = prefix ? FindPrefix(*prefix) : nullptr;
            if (prefix && p == nullptr) {
                sr.Problem("prefix", "unknown word \"" + *prefix + "\"");
            } else if (p != nullptr && !p->fixed && bcdParent && p->enc == PrefixEnc::Binary) {
                sr.Problem("prefix", "a BCD field's lengths are digits: BCD or ASCII");
            } else if (p != nullptr) {
                sf.fixed = p->fixed;
                sf.prefixBytes = p->bytes;
                sf.prefixEnc = p->enc;
            } else if (tag.prefixBytes > 0) {
                sf.fixed = false;
                sf.prefixBytes = tag.prefixBytes;
                sf.prefixEnc = tag.prefixEnc;
            } else {
                sr.Problem("prefix", "missing: a tagged value needs its length prefix, or "
                                     "\"Fixed\" and its length (or the tag's \"prefix\")");
            }
            if (p != nullptr && p->fixed && !length && !sr.Has("length")) {
                sr.Problem("length", "missing: a fixed tagged value needs its length");
            }
        } else {
            if (prefix && !prefix->ends_with("Fixed")) {
                sr.Problem("prefix", "a positional sub-field has a fixed length");
            }
            if (!length && !sr.Has("length")) {
                sr.Problem("length", "missing: a positional sub-field needs its length");
            }
        }
        if (const auto enc = sr.Word("enc", {"BCD", "ASCII", "Binary"})) {
            sf.enc = static_cast<DataEnc>(*enc);
        }
        if (bcdParent) sf.enc = DataEnc::Bcd;  // a BCD field's slices are digits
        sf.values = ReadValues(sr, gbk, problems);
        ReadSubLayout(sr, path, bcdParent || sf.enc == DataEnc::Bcd, depth + 1, gbk, sf.inner,
                      sf.subfields, nullptr, problems);
        sr.UnknownKeys();
        numbered.emplace_back(number, std::move(sf));
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SubField> out;
    for (auto& [n, sf] : numbered) out.push_back(std::move(sf));
    return out;
}

/// `"when": {"type": "0810", "60.3": ["003", "004"]}`: the tests of a conditional layout.
std::vector<LayoutTest> ReadLayoutTests(Reader& r, std::vector<std::string>& problems) {
    std::vector<LayoutTest> tests;
    json_object* object = r.Object("when");
    if (object == nullptr) {
        if (!r.Has("when")) r.Problem("when", "missing: the tests that choose this layout");
        return tests;
    }
    const std::string where = r.Place("when");
    json_object_object_foreach(object, key, value) {
        const std::string_view k(key);
        const bool named = k == "type" || k == "processingCode";
        const bool path = !k.empty() && k.front() != '.' && k.back() != '.' &&
                          k.find("..") == std::string_view::npos &&
                          std::all_of(k.begin(), k.end(), [](char c) {
                              return (c >= '0' && c <= '9') || c == '.';
                          });
        if (!named && !path) {
            problems.push_back(where + ", key \"" + std::string(k) +
                               "\": expected \"type\", \"processingCode\", a field number or a "
                               "sub-field path (\"60.3\")");
            continue;
        }
        LayoutTest test{named ? std::string(k == "type" ? "0" : "3") : std::string(k), {}};
        const auto add = [&](json_object* v) {
            if (!json_object_is_type(v, json_type_string)) {
                problems.push_back(where + ", key \"" + std::string(k) +
                                   "\": a value must be a text in double quotes");
                return;
            }
            test.prefixes.emplace_back(json_object_get_string(v),
                                       static_cast<std::size_t>(json_object_get_string_len(v)));
        };
        if (json_object_is_type(value, json_type_array)) {
            for (std::size_t i = 0; i < json_object_array_length(value); ++i) {
                add(json_object_array_get_idx(value, i));
            }
        } else {
            add(value);
        }
        tests.push_back(std::move(test));
    }
    return tests;
}

/// `"layouts": [{"when": {…}, "tag": {…}, "subfields": {…}}, …]`: sub-fields chosen by the
/// message (field 62 holds keys in a sign-in reply and other data elsewhere).
std::vector<ConditionalLayout> ReadLayouts(Reader& r, const std::string& path, bool digits,
                                           bool gbk, std::vector<std::string>& problems) {
    std::vector<ConditionalLayout> layouts;
    json_object* array = r.Array("layouts");
    if (array == nullptr) return layouts;
    for (std::size_t i = 0; i < json_object_array_length(array); ++i) {
        json_object* item = json_object_array_get_idx(array, i);
        const std::string where = r.Place("layouts") + ", item " + std::to_string(i + 1);
        if (!json_object_is_type(item, json_type_object)) {
            problems.push_back(where + ": must be an object {\"when\": …, \"subfields\": …}");
            continue;
        }
        Reader lr(item, where, problems);
        ConditionalLayout layout;
        layout.when = ReadLayoutTests(lr, problems);
        ReadSubLayout(lr, path, digits, 1, gbk, layout.tag, layout.subfields, nullptr, problems);
        lr.UnknownKeys();
        layouts.push_back(std::move(layout));
    }
    return layouts;
}

/// The tests of conditional layouts name fields the table defines, and sub-fields of fields
/// that have them.
void CheckLayoutTests(const FieldTable& t, std::vector<std::string>& problems) {
    for (std::size_t f = 0; f < t.fields.size(); ++f) {
        if (t.fields[f].explain == nullptr) continue;
        for (const ConditionalLayout& layout : t.fields[f].explain->layouts) {
            for (const LayoutTest& test : layout.when) {
                const std::string_view key = test.key;
                const std::string_view head = key.substr(0, key.find('.'));
                std::size_t n = 0;
                std::from_chars(head.data(), head.data() + head.size(), n);
                const bool defined = n < t.fields.size() && (n == 0 || t.fields[n].Defined());
                const bool subs = head.size() == key.size() ||
                                  (defined && t.fields[n].explain != nullptr &&
                                   t.fields[n].explain->HasSubFields());
                if (!defined || !subs) {
                    problems.push_back("field " + std::to_string(f) + ", key \"layouts\": the test \"" +
                                       std::string(key) + "\" names " +
                                       (!defined ? "field " + std::string(head) + ", which the table does not define"
                                                 : "a sub-field of field " + std::string(head) + ", which has none"));
                }
            }
        }
    }
}

void ReadField(json_object* object, int number, FieldTable& t, TextRule tableText,
               OverLength tableOverLength, std::vector<std::string>& problems) {
    Reader r(object, "field " + std::to_string(number), problems);
    FieldDef& f = t.fields[static_cast<std::size_t>(number)];
    auto name = r.Text("name");
    const auto description = r.Text("description");
    if (!name && description) name = description;
    if (name) f.name = *name;
    (void)r.Get("type");  // moov-io's Go type (String, Numeric, Binary); the encodings decide here
    if (number == 1) {
        // The bitmap is described by "bitmap"; its entry only names it.
        (void)r.Get("length");
        (void)r.Get("enc");
        (void)r.Get("prefix");
        r.UnknownKeys();
        return;
    }
    // Keys read only on some paths: a misspelt key is reported whichever path is taken.
    r.Expect({"padding", "mac", "macBytes", "tlv", "text", "overLength", "values", "subfields",
              "tag", "layouts"});
    const auto length = r.Integer("length", 1, kMaxFieldLength);
    const std::string_view prefixWord = [&] {
        json_object* p = r.Get("prefix");
        return p != nullptr && json_object_is_type(p, json_type_string)
                   ? std::string_view(json_object_get_string(p))
                   : std::string_view("Fixed");
    }();
    const PrefixWord* prefix = FindPrefix(prefixWord);
    if (json_object* p = r.Get("prefix");
        p != nullptr && !json_object_is_type(p, json_type_string)) {
        r.Problem("prefix", "must be a text in double quotes");
    } else if (prefix == nullptr) {
        r.Problem("prefix", "unknown word \"" + std::string(prefixWord) +
                                "\" (expected Fixed, BCD.LL, BCD.LLL, ASCII.LL, ASCII.LLL, "
                                "ASCII.LLLL, Binary.L or Binary.LL)");
    }
    const auto enc = r.Word("enc", {"BCD", "ASCII", "Binary"});
    if (r.Has("enc") && !enc) return r.UnknownKeys();
    f.enc = enc ? static_cast<DataEnc>(*enc) : DataEnc::Ascii;
    if (prefix != nullptr) {
        f.fixed = prefix->fixed;
        f.prefixEnc = prefix->enc;
        f.prefixBytes = prefix->bytes;
    }
    if (!length) {
        if (!r.Has("length")) {
            r.Problem("length", f.fixed ? "missing: a fixed field needs its length"
                                        : "missing: a variable field needs its largest length");
        }
        return r.UnknownKeys();
    }
    f.maxLen = static_cast<std::int32_t>(*length);
    if (json_object* padding = r.Object("padding")) {
        Reader p(padding, r.Place("padding"), problems);
        if (const auto side = p.Word("type", {"Left", "Right"})) {
            f.pad = *side == 0 ? PadSide::Left : PadSide::Right;
        }
        if (const auto pad = p.Word("pad", {"0", "F"})) f.padNibble = *pad == 0 ? 0x0 : 0xF;
        p.UnknownKeys();
    }
    if (const auto mac = r.Flag("mac")) f.inMac = *mac;
    if (const auto macBytes = r.Integer("macBytes", 0, kMaxFieldLength)) {
        f.macBytes = static_cast<std::int32_t>(*macBytes);
    }
    if (const auto tlv = r.Flag("tlv")) f.tlv = *tlv;
    f.overLength = ReadOverLength(r).value_or(tableOverLength);
    FieldExplain explain;
    const bool gbk = t.charset != "UTF-8";
    explain.values = ReadValues(r, gbk, problems);
    const std::string path = std::to_string(number);
    ReadSubLayout(r, path, f.enc == DataEnc::Bcd, 1, gbk, explain.tag, explain.subfields, &f.tlv,
                  problems);
    explain.layouts = ReadLayouts(r, path, f.enc == DataEnc::Bcd, gbk, problems);
    if (!explain.values.empty() || explain.HasSubFields()) {
        f.explain = std::make_shared<const FieldExplain>(std::move(explain));
    }
    TextRule text = tableText;
    if (const auto own = ReadTextRule(r, "text")) text = *own;
    switch (text) {
        case TextRule::None:
            f.rowText = RowTextPart::None;
            break;
        case TextRule::Data:
            f.rowText = f.enc == DataEnc::Ascii ? RowTextPart::Data : RowTextPart::None;
            break;
        case TextRule::Stored:
            f.rowText = RowTextPart::Stored;
            break;
    }
    r.UnknownKeys();
    if (prefix != nullptr) CheckFieldLength(f, r.Where(), problems);
}

void ReadBitmap(Reader& top, FieldTable& t, std::vector<std::string>& problems) {
    json_object* object = top.Object("bitmap");
    t.bitmap = BitmapSpec{128, SecondaryBitmap::Bit1, BitmapEnc::Binary};
    if (object == nullptr) return;
    Reader r(object, "bitmap", problems);
    if (json_object* b = r.Get("bits")) {
        if (!json_object_is_type(b, json_type_int) ||
            (json_object_get_int(b) != 64 && json_object_get_int(b) != 128)) {
            r.Problem("bits", "must be 64 or 128");
        } else {
            t.bitmap.bits = json_object_get_int(b);
        }
    }
    t.bitmap.secondary = t.bitmap.bits == 64 ? SecondaryBitmap::Never : SecondaryBitmap::Bit1;
    if (const auto s = r.Word("secondary", {"bit1", "always", "never"})) {
        t.bitmap.secondary = static_cast<SecondaryBitmap>(*s);
        if (t.bitmap.bits == 64 && t.bitmap.secondary != SecondaryBitmap::Never) {
            r.Problem("secondary", "a 64-bit bitmap has no secondary bitmap: use \"never\"");
        }
    }
    if (const auto e = r.Word("enc", {"Binary", "ASCII"})) {
        t.bitmap.enc = *e == 0 ? BitmapEnc::Binary : BitmapEnc::Ascii;
    }
    r.UnknownKeys();
}

/// The encodings a Length part may have, and the sizes each allows.
struct LengthWord {
    LengthEnc enc;
    std::int32_t small;
    std::int32_t large;
    std::string_view sizes;  ///< the problem text for another size
};
constexpr LengthWord kLengthWords[] = {
    {LengthEnc::Binary, 2, 4, "a binary length has 2 or 4 bytes"},
    {LengthEnc::Ascii, 4, 6, "an ASCII length has 4 or 6 digits"},
    {LengthEnc::Bcd, 2, 2, "a BCD length has 2 bytes"},
};

/// The part's row name and size; a marker may leave its size to its "pack".
void ReadPartSize(Reader& r, FramePart& p) {
    if (const auto name = r.Text("name")) p.name = *name;
    if (const auto bytes = r.Integer("bytes", 1, kMaxFrameBytes)) {
        p.bytes = static_cast<std::int32_t>(*bytes);
    } else if (!r.Has("bytes") && p.kind != FramePartKind::Marker) {
        r.Problem("bytes", "missing: the part's size in bytes");
    }
}

void ReadLengthKeys(Reader& r, FramePart& p, FieldTable& t) {
    const LengthWord& w = kLengthWords[r.Word("enc", {"Binary", "ASCII", "BCD"}).value_or(0)];
    p.lengthEnc = w.enc;
    if (p.bytes != 0 && p.bytes != w.small && p.bytes != w.large) r.Problem("bytes", w.sizes);
    if (const auto little = r.Flag("littleEndian")) {
        if (*little && p.lengthEnc != LengthEnc::Binary) {
            r.Problem("littleEndian", "only a binary length has a byte order");
        }
        p.littleEndian = *little;
    }
    if (const auto itself = r.Flag("countsItself")) p.countsItself = *itself;
    if (r.Flag("optional").value_or(false)) p.presence = Presence::LengthMatch;
    if (const auto shorter = r.Flag("allowShorter")) t.allowShorterLength = *shorter;
    if (const auto packed = r.Flag("packed")) p.packed = *packed;
}

/// A marker's fixed bytes from "pack"; false (a problem reported) when they are missing or do
/// not fill "bytes".
bool ReadMarkerKeys(Reader& r, FramePart& p) {
    p.showRow = false;
    const auto pack = r.Text("pack");
    if (!pack) {
        if (!r.Has("pack")) {
            r.Problem("pack", "missing: a marker needs its bytes as hex, such as \"02\"");
        }
        return false;
    }
    const auto bytes = HexBytes(*pack);
    if (!bytes || bytes->empty() ||
        (p.bytes != 0 && bytes->size() != static_cast<std::size_t>(p.bytes))) {
        r.Problem("pack", p.bytes != 0 ? "must be " + std::to_string(p.bytes) +
                                             " bytes as hex digits"
                                       : std::string("must be one or more bytes as hex digits"));
        return false;
    }
    if (bytes->size() > static_cast<std::size_t>(kMaxFrameBytes)) {
        r.Problem("pack", "more than " + std::to_string(kMaxFrameBytes) + " bytes");
        return false;
    }
    p.packDefault = *bytes;
    p.bytes = static_cast<std::int32_t>(bytes->size());
    return true;
}

/// When a length, TPDU or header part is there: "detect" tests and "present".
void ReadPresence(Reader& r, FramePart& p, const FieldTable& t,
                  std::vector<std::string>& problems) {
    if (json_object* detect = r.Array("detect")) {
        p.presence = Presence::Detect;
        const std::size_t n = json_object_array_length(detect);
        for (std::size_t i = 0; i < n; ++i) {
            json_object* test = json_object_array_get_idx(detect, i);
            const std::string place = r.Place("detect") + " test " + std::to_string(i + 1);
            if (!json_object_is_type(test, json_type_object)) {
                problems.push_back(place + ": must be an object {\"at\":…,\"equals\":…}");
                continue;
            }
            Reader d(test, place, problems);
            ByteTest b;
            if (const auto at = d.Integer("at", 0, kMaxFrameBytes - 1)) {
                b.offset = static_cast<std::int32_t>(*at);
            }
            if (const auto mask = HexByte(d, "mask")) b.mask = *mask;
            if (const auto equals = HexByte(d, "equals")) {
                b.value = *equals;
            } else if (!d.Has("equals")) {
                d.Problem("equals", "missing: the byte value to compare with");
            }
            d.UnknownKeys();
            p.detect.push_back(b);
        }
    }
    if (const auto present = r.Word("present", {"always", "detect", "withPrevious"})) {
        p.presence = *present == 0   ? Presence::Always
                     : *present == 1 ? Presence::Detect
                                     : Presence::WithPrevious;
        if (p.presence == Presence::Detect && p.detect.empty()) {
            r.Problem("present", "\"detect\" needs a \"detect\" list of byte tests");
        }
        if (p.presence == Presence::WithPrevious && t.frame.empty()) {
            r.Problem("present", "\"withPrevious\" needs a part before this one");
        }
    }
}

/// A header's named members and a part's "pack" bytes.
void ReadMembersAndPack(Reader& r, FramePart& p, std::vector<std::string>& problems) {
    std::vector<std::uint8_t> memberPack;
    bool membersPack = false;
    if (json_object* members = r.Array("members")) {
        const std::size_t n = json_object_array_length(members);
        std::int32_t sum = 0;
        for (std::size_t i = 0; i < n; ++i) {
            json_object* m = json_object_array_get_idx(members, i);
            const std::string place = r.Place("members") + " member " + std::to_string(i + 1);
            if (!json_object_is_type(m, json_type_object)) {
                problems.push_back(place + ": must be an object {\"name\":…,\"bytes\":…}");
                continue;
            }
            Reader mr(m, place, problems);
            HeaderMember hm;
            if (const auto name = mr.Text("name")) hm.name = *name;
            if (const auto bytes = mr.Integer("bytes", 1, kMaxFrameBytes)) {
                hm.bytes = static_cast<std::int32_t>(*bytes);
            } else if (!mr.Has("bytes")) {
                mr.Problem("bytes", "missing: the member's width");
            }
            if (const auto text = mr.Flag("text")) hm.withText = *text;
            std::vector<std::uint8_t> fill(static_cast<std::size_t>(hm.bytes), 0);
            if (const auto pack = mr.Text("pack")) {
                membersPack = true;
                if (*pack == "length") {
                    hm.fill = MemberFill::TotalLength;
                    fill.assign(fill.size(), '0');
                } else if (const auto bytes = HexBytes(*pack);
                           bytes && bytes->size() == fill.size()) {
                    fill = *bytes;
                } else {
                    mr.Problem("pack", "must be \"length\" or " + std::to_string(hm.bytes) +
                                           " bytes as hex digits");
                }
            }
            memberPack.insert(memberPack.end(), fill.begin(), fill.end());
            mr.UnknownKeys();
            sum += hm.bytes;
            p.members.push_back(std::move(hm));
        }
        if (p.kind != FramePartKind::Header) {
            r.Problem("members", "only a header has members");
        } else if (sum != p.bytes) {
            r.Problem("members", "the widths add up to " + std::to_string(sum) + ", not " +
                                     std::to_string(p.bytes) + " bytes");
        }
    }
    if (const auto pack = r.Text("pack")) {
        const auto bytes = HexBytes(*pack);
        if (!bytes || bytes->size() != static_cast<std::size_t>(p.bytes)) {
            r.Problem("pack", "must be " + std::to_string(p.bytes) + " bytes as hex digits");
        } else {
            p.packDefault = *bytes;
        }
    } else if (membersPack) {
        p.packDefault = std::move(memberPack);
    }
}

void ReadFramePart(json_object* object, std::size_t index, FieldTable& t,
                   std::vector<std::string>& problems) {
    const std::string place = "frame part " + std::to_string(index + 1);
    if (!json_object_is_type(object, json_type_object)) {
        problems.push_back(place + ": must be an object");
        return;
    }
    Reader r(object, place, problems);
    FramePart p;
    const auto kind = r.Word("part", {"length", "tpdu", "header", "marker", "check"});
    if (!kind) {
        if (!r.Has("part")) r.Problem("part", "missing: length, tpdu, header or marker");
        return;
    }
    p.kind = static_cast<FramePartKind>(*kind);
    if (p.kind == FramePartKind::Check) {
        r.Problem("part", "a check byte stands after the message: put it in \"trailer\"");
        return;
    }
    constexpr std::string_view kNames[] = {"length", "TPDU", "Header", "marker"};
    p.name = kNames[*kind];
    ReadPartSize(r, p);
    if (p.kind == FramePartKind::Marker) {
        if (!ReadMarkerKeys(r, p)) return;
    } else {
        if (p.kind == FramePartKind::Length) {
            ReadLengthKeys(r, p, t);
        } else if (const auto rows = r.Flag("rows")) {
            p.showRow = *rows;
        }
        ReadPresence(r, p, t, problems);
        ReadMembersAndPack(r, p, problems);
    }
    r.UnknownKeys();
    t.frame.push_back(std::move(p));
}

void ReadTrailerPart(json_object* object, std::size_t index, FieldTable& t,
                     std::vector<std::string>& problems) {
    const std::string place = "trailer part " + std::to_string(index + 1);
    if (!json_object_is_type(object, json_type_object)) {
        problems.push_back(place + ": must be an object");
        return;
    }
    Reader r(object, place, problems);
    FramePart p;
    const auto kind = r.Word("part", {"marker", "check"});
    if (!kind) {
        if (!r.Has("part")) r.Problem("part", "missing: marker or check");
        return;
    }
    if (*kind == 0) {
        p.kind = FramePartKind::Marker;
        p.name = "marker";
        ReadPartSize(r, p);
        if (!ReadMarkerKeys(r, p)) return;
    } else {
        p.kind = FramePartKind::Check;
        p.name = "check byte";
        if (const auto name = r.Text("name")) p.name = *name;
        (void)r.Integer("bytes", 1, 1);
        p.bytes = 1;
        if (const auto from = r.Integer("from", 0, kMaxFrameBytes)) {
            p.checkFrom = static_cast<std::int32_t>(*from);
        }
    }
    r.UnknownKeys();
    t.trailer.push_back(std::move(p));
}

void ReadHeadRow(Reader& rows, std::string_view key, HeadRow& row,
                 std::vector<std::string>& problems) {
    json_object* object = rows.Object(key);
    if (object == nullptr) return;
    Reader r(object, rows.Place(key), problems);
    if (const auto name = r.Text("name")) row.name = *name;
    if (const auto length = r.Text("length")) row.lengthText = *length;
    if (const auto bytes = r.Integer("bytes", 0, 32)) {
        row.shownBytes = static_cast<std::int32_t>(*bytes);
    }
    if (const auto text = r.Flag("text")) row.withText = *text;
    r.UnknownKeys();
}

std::string DescribeTokenerError(json_tokener_error e) {
    if (e == json_tokener_continue) return "the text ends inside a value";
    return json_tokener_error_desc(e);
}

// "mac": the MAC field, its input, what the field holds and a default algorithm. Without the
// member (or without "input" and "form") a table that marks fields takes their text and holds 8
// hex characters, as the 128-field form does; else it takes the bytes, as the 64-field form does.
void ReadMac(Reader& top, FieldTable& t, std::vector<std::string>& problems) {
    const bool marked = std::any_of(t.fields.begin(), t.fields.end(),
                                    [](const FieldDef& d) { return d.inMac; });
    json_object* mac = top.Object("mac");
    if (mac == nullptr) {
        if (marked && t.macField != 0) {
            t.macInput = MacInput::Fields;
            t.macForm = MacForm::Hex8;
        }
        return;
    }
    Reader r(mac, "mac", problems);
    if (const auto field = r.Integer("field", 2, t.bitmap.bits)) {
        if (t.macField != 0 && t.macField != *field) {
            r.Problem("field", std::to_string(*field) + " is not the field \"pack\" names (" +
                                   std::to_string(t.macField) + ")");
        }
        t.macField = static_cast<std::int32_t>(*field);
    }
    if (json_object* list = r.Array("fields")) {
        const std::size_t n = json_object_array_length(list);
        for (std::size_t i = 0; i < n; ++i) {
            json_object* item = json_object_array_get_idx(list, i);
            const std::int64_t f = json_object_is_type(item, json_type_int)
                                       ? json_object_get_int64(item) : -1;
            if (f < 0 || f > t.bitmap.bits) {
                r.Problem("fields", "entry " + std::to_string(i + 1) + " is not a field number 0.." +
                                        std::to_string(t.bitmap.bits));
                continue;
            }
            t.fields[static_cast<std::size_t>(f)].inMac = true;
        }
    }
    const bool fields = r.Has("fields") || marked;
    const auto input = r.Word("input", {"bytes", "fields"});
    t.macInput = input ? static_cast<MacInput>(*input)
                       : fields ? MacInput::Fields : MacInput::Bytes;
    if (json_object* from = r.Get("from")) {
        if (json_object_is_type(from, json_type_string) &&
            std::string_view(json_object_get_string(from)) == "type") {
            t.macFrom = -1;
        } else if (json_object_is_type(from, json_type_int) && json_object_get_int64(from) >= 0 &&
                   json_object_get_int64(from) <= kMaxFrameBytes) {
            t.macFrom = static_cast<std::int32_t>(json_object_get_int64(from));
        } else {
            r.Problem("from", "must be \"type\" or a byte offset 0.." +
                                  std::to_string(kMaxFrameBytes) + " in the frame");
        }
    }
    if (const auto sep = r.Text("separator")) t.macSeparator = *sep;
    if (const auto alg = r.Word("algorithm", {kTableMacAlgorithms[0], kTableMacAlgorithms[1],
                                              kTableMacAlgorithms[2]})) {
        t.macAlgorithm = kTableMacAlgorithms[*alg];
    }
    const auto form = r.Word("form", {"algorithm", "block", "hex8"});
    t.macForm = form ? static_cast<MacForm>(*form)
                     : t.macInput == MacInput::Fields ? MacForm::Hex8 : MacForm::Algorithm;
    r.UnknownKeys();
}

// A table file is UTF-8 whatever its charset, which says how field bytes read. Row names stand
// among the field texts of a row, so in a GBK table they are made GBK too; titles stay UTF-8.
void RowNamesInCharset(FieldTable& t) {
    if (t.charset == "UTF-8") return;
    for (FramePart& p : t.frame) {
        p.name = Utf8ToGbk(p.name);
        for (HeaderMember& m : p.members) m.name = Utf8ToGbk(m.name);
    }
    t.typeRow.name = Utf8ToGbk(t.typeRow.name);
    t.bitmapRow.name = Utf8ToGbk(t.bitmapRow.name);
    t.fieldRowPrefix = Utf8ToGbk(t.fieldRowPrefix);
}

}  // namespace

TableLoad LoadJsonTable(std::string_view text) {
    TableLoad load;
    std::vector<std::string>& problems = load.problems;
    std::size_t base = 0;
    if (text.starts_with("\xEF\xBB\xBF")) base = 3;
    const std::string_view body = text.substr(base);
    if (body.size() > kMaxTableFileBytes) {
        problems.push_back("the table is over 1 MiB");
        return load;
    }
    JsonTokenerPtr tok(
        json_tokener_new_ex(static_cast<int>(kMaxDepth)));
    if (!tok) {
        problems.push_back("out of memory");
        return load;
    }
    JsonObjectPtr root(json_tokener_parse_ex(tok.get(), body.data(), static_cast<int>(body.size())));
    const json_tokener_error err = json_tokener_get_error(tok.get());
    const std::size_t end = json_tokener_get_parse_end(tok.get());
    if (!root || err != json_tokener_success) {
        problems.push_back("offset " + std::to_string(base + end) +
                           ": malformed JSON: " + DescribeTokenerError(err));
        return load;
    }
    if (const std::size_t rest = SkipBlankAndComments(body, end); rest < body.size()) {
        problems.push_back("offset " + std::to_string(base + rest) +
                           ": malformed JSON: text after the end of the table");
        return load;
    }
    if (!json_object_is_type(root.get(), json_type_object)) {
        problems.push_back("offset " + std::to_string(base + SkipBlankAndComments(body, 0)) +
                           ": the table must be a JSON object { … }");
        return load;
    }
    for (const DuplicateKey& d : FindDuplicateKeys(body)) {
        std::string place;
        if (d.path.size() >= 2 && d.path[0] == "fields") {
            place = "field " + d.path[1] + ", ";
        } else {
            for (const std::string& k : d.path) place += k + ", ";
        }
        problems.push_back(place + "key \"" + d.key + "\" at offset " +
                           std::to_string(base + d.offset) + ": duplicate key");
    }

    FieldTable t;
    Reader top(root.get(), "", problems);
    if (const auto name = top.Text("name")) t.name = *name;
    if (t.name.empty() && !top.Has("name")) top.Problem("name", "missing: the table's name");
    (void)top.Text("description");
    t.charset = "GBK";
    if (const auto charset = top.Word("charset", {"GBK", "UTF-8"})) {
        t.charset = *charset == 0 ? "GBK" : "UTF-8";
    }
    ReadBitmap(top, t, problems);
    t.fields.assign(static_cast<std::size_t>(t.bitmap.bits) + 1, FieldDef{});
    if (json_object* frame = top.Array("frame")) {
        const std::size_t n = json_object_array_length(frame);
        for (std::size_t i = 0; i < n; ++i) {
            ReadFramePart(json_object_array_get_idx(frame, i), i, t, problems);
        }
    }
    if (json_object* trailer = top.Array("trailer")) {
        const std::size_t n = json_object_array_length(trailer);
        for (std::size_t i = 0; i < n; ++i) {
            ReadTrailerPart(json_object_array_get_idx(trailer, i), i, t, problems);
        }
    }
    if (const auto strict = top.Flag("strict")) t.strict = *strict;
    // A loaded table reads a longer field whole unless it says otherwise: later revisions of a
    // form send longer fields, and cutting one misaligns every field after it.
    OverLength overLength = t.strict ? OverLength::Refuse : OverLength::Whole;
    if (const auto rule = ReadOverLength(top)) overLength = *rule;
    if (const auto explain = top.Word("explain", {"always", "onRequest"})) {
        t.explainByDefault = *explain == 0;
    }
    if (const auto from = top.Text("explainFrom")) t.explainFrom = *from;
    if (json_object* rules = top.Array("transactions")) {
        const std::size_t n = json_object_array_length(rules);
        for (std::size_t i = 0; i < n; ++i) {
            json_object* item = json_object_array_get_idx(rules, i);
            if (!json_object_is_type(item, json_type_object)) {
                problems.push_back("transactions, entry " + std::to_string(i + 1) +
                                   ": must be an object {\"name\":…}");
                continue;
            }
            Reader tr(item, "transactions, entry " + std::to_string(i + 1), problems);
            TransactionRule rule;
            if (const auto name = tr.Text("name")) {
                rule.name = t.charset == "UTF-8" ? *name : Utf8ToGbk(*name);
            }
            if (rule.name.empty()) tr.Problem("name", "missing: the transaction's name");
            if (const auto mti = tr.Text("type")) rule.mtiPrefix = *mti;
            if (const auto proc = tr.Text("processingCode")) rule.procPrefix = *proc;
            if (const auto f60 = tr.Text("60.1")) rule.field60Prefix = *f60;
            tr.UnknownKeys();
            t.transactions.push_back(std::move(rule));
        }
    }
    if (const auto minBytes = top.Integer("minBytes", 0, kMaxFrameBytes)) {
        t.minMessageBytes = static_cast<std::int32_t>(*minBytes);
    }
    TextRule tableText = TextRule::Data;
    bool typeRowGiven = false;
    bool bitmapRowGiven = false;
    if (json_object* rows = top.Object("rows")) {
        Reader r(rows, "rows", problems);
        typeRowGiven = r.Has("type");
        bitmapRowGiven = r.Has("bitmap");
        ReadHeadRow(r, "type", t.typeRow, problems);
        ReadHeadRow(r, "bitmap", t.bitmapRow, problems);
        if (const auto prefix = r.Text("prefix")) t.fieldRowPrefix = *prefix;
        if (const auto text = ReadTextRule(r, "text")) tableText = *text;
        r.UnknownKeys();
    }
    if (json_object* pack = top.Object("pack")) {
        Reader r(pack, "pack", problems);
        if (const auto macField = r.Integer("macField", 0, t.bitmap.bits)) {
            t.macField = static_cast<std::int32_t>(*macField);
        }
        if (const auto mac = r.Word("mac", {"stored", "zeros", "zeroHex"})) {
            t.macFill = static_cast<MacFill>(*mac);
        }
        if (const auto bit1 = r.Flag("bit1")) t.packSetsBit1 = *bit1;
        if (const auto last = r.Integer("lastField", 2, t.bitmap.bits)) {
            t.packLastField = static_cast<std::int32_t>(*last);
        }
        if (const auto maxStored = r.Integer("maxStored", 0, kMaxFieldLength + 8)) {
            t.packMaxStored = static_cast<std::int32_t>(*maxStored);
        }
        r.UnknownKeys();
    }
    if (t.packLastField == 0) t.packLastField = t.bitmap.bits;

    json_object* fields = top.Object("fields");
    if (fields == nullptr && !top.Has("fields")) top.Problem("fields", "missing: the fields");
    if (fields != nullptr) {
        std::vector<bool> seen(t.fields.size(), false);
        json_object_object_foreach(fields, key, value) {
            const std::string_view k(key);
            int number = -1;
            const auto r = std::from_chars(k.data(), k.data() + k.size(), number);
            if (k.empty() || r.ec != std::errc() || r.ptr != k.data() + k.size() || number < 0) {
                problems.push_back("fields, key \"" + std::string(k) + "\": not a field number");
                continue;
            }
            if (number > t.bitmap.bits) {
                problems.push_back("field " + std::to_string(number) + ": outside the " +
                                   std::to_string(t.bitmap.bits) + "-bit bitmap (fields 0.." +
                                   std::to_string(t.bitmap.bits) + ")");
                continue;
            }
            if (seen[static_cast<std::size_t>(number)]) {
                problems.push_back("fields, key \"" + std::string(k) + "\": field " +
                                   std::to_string(number) + " is defined twice");
                continue;
            }
            seen[static_cast<std::size_t>(number)] = true;
            if (!json_object_is_type(value, json_type_object)) {
                problems.push_back("field " + std::to_string(number) +
                                   ": must be an object {\"length\":…,\"prefix\":…,\"enc\":…}");
                continue;
            }
            ReadField(value, number, t, tableText, overLength, problems);
        }
    }
    ReadMac(top, t, problems);
    top.UnknownKeys();
    CheckLayoutTests(t, problems);
    DefaultHeadRows(t, typeRowGiven, bitmapRowGiven);
    CompleteTable(t, problems);
    RowNamesInCharset(t);
    if (problems.empty()) load.table = std::move(t);
    return load;
}
