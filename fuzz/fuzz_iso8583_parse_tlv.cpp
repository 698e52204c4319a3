// Fuzzes the ISO 8583 parse command with field 55's sub-rows and card masking: the first byte
// picks the interface type and the options, the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "iso/ParseIso8583.h"
#include "emv/TlvRows.h"

namespace {

bool SameRows(const FieldRowList& a, const FieldRowList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].Name() != b[i].Name() || a[i].Length() != b[i].Length() ||
            a[i].Value() != b[i].Value()) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int mode = (data[0] & 0x0F) % 3;
    const bool mask = (data[0] & 0x10) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    CommandResult plain;
    ParseIso8583Text(text, mode, ParseOptions{false, mask}, plain);
    CommandResult tlv;
    ParseIso8583Text(text, mode, ParseOptions{true, mask}, tlv);
    if (plain.outcome != tlv.outcome || plain.error != tlv.error) std::abort();
    // The sub-rows come on top of the field rows and change none of them.
    if (!SameRows(FoldTlvRows(tlv.rows, tlv.tlv).rows, plain.rows)) std::abort();
    std::size_t errors = 0;
    for (const TlvRowNote& n : tlv.tlv) {
        if (n.row >= tlv.rows.size() || n.fieldRow >= n.row) std::abort();
        errors += n.error ? 1 : 0;
    }
    if (errors > 1) std::abort();
    return 0;
}
