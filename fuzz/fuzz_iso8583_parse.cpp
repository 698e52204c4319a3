// Fuzzes the ISO 8583 parse command: the first byte picks the interface type, the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "iso/ParseIso8583.h"

namespace {

// A message of the other object kind, parsed in between so that a reused object is dirty.
constexpr std::string_view kOther128 =
    "303036392E8130303233303030313030303020202036363636313233342020200000000030303030303030300030"
    "303030303038303080000000000000000400000000000000333031";

bool SameRows(const CommandResult& a, const CommandResult& b) {
    if (a.outcome != b.outcome || a.error != b.error || a.detail != b.detail) return false;
    if (a.rows.size() != b.rows.size()) return false;
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        if (a.rows[i].Name() != b.rows[i].Name() || a.rows[i].Length() != b.rows[i].Length() ||
            a.rows[i].Value() != b.rows[i].Value()) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int mode = data[0] % 3;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const CommandResult first = ParseIso8583Text(text, mode);
    CommandResult other;
    ParseIso8583Text(kOther128, 0, other);
    if (!other.Ok()) std::abort();
    ParseIso8583Text(text.substr(0, text.size() / 2), 1, other);
    CommandResult again;
    ParseIso8583Text(text, mode, again);
    // The same text gives the same result, whatever was decoded before it.
    if (!SameRows(first, again)) std::abort();
    for (const FieldRow& row : first.rows) {
        if (row.Name().size() > 15 || row.Length().size() > 15 || row.Value().size() > 3 * 5120 + 4) {
            std::abort();
        }
    }
    return 0;
}
