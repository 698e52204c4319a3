// Fuzzes the engine with changed tables: a table value mutated by the input decodes the rest of
// the input as a message text, and the pack objects decode and pack with their public tables
// changed after construction. Nothing may be read or written outside a buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "iso/ParseIso8583.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"

namespace {

// Reads the mutation bytes in front of the message.
struct Reader {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t Next() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
};

void MutateTable(FieldTable& t, Reader& in, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t op = in.Next();
        const std::size_t f = in.Next() % t.fields.size();
        FieldDef& d = t.fields[f];
        const std::uint8_t v = in.Next();
        switch (op % 10) {
            case 0: d.maxLen = v * 5; break;
            case 1: d.fixed = !d.fixed; break;
            case 2: d.prefixBytes = v % 5; break;
            case 3: d.prefixEnc = static_cast<PrefixEnc>(v % 3); break;
            case 4: d.enc = static_cast<DataEnc>(v % 3); break;
            case 5: t.bitmap.secondary = static_cast<SecondaryBitmap>(v % 3); break;
            case 6: t.bitmap.enc = static_cast<BitmapEnc>(v % 2); break;
            case 7:
                if (!t.frame.empty()) t.frame[v % t.frame.size()].bytes = in.Next() % 64;
                break;
            case 8: t.strict = (v & 1) != 0; t.allowShorterLength = (v & 2) != 0; break;
            default: d.rowText = static_cast<RowTextPart>(v % 3); d.rowHex = static_cast<RowHex>(v % 2);
        }
    }
}

template <typename Pack>
void MutateAttrs(Pack& pack, Reader& in) {
    for (int i = 0; i < 3; ++i) {
        FieldAttr& a = pack.m_attr[in.Next() % pack.m_attr.size()];
        a.maxLen = in.Next() * 4;
        a.fixed = in.Next() & 1;
        a.lenBytes = in.Next() % 5;
        a.format = "NAB"[in.Next() % 3];
        a.lenFormat = "NAB"[in.Next() % 3];
    }
}

// The table changes after construction, and again between decoding and packing.
template <typename Pack>
void ChangedObject(Pack& pack, Reader in, const std::uint8_t* msg, std::size_t len) {
    MutateAttrs(pack, in);
    (void)pack.UnpackWithin(msg, static_cast<std::int32_t>(len), len);
    MutateAttrs(pack, in);
    FieldRowList rows;
    BuildRows(rows, pack);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()));
    std::int32_t outLen = 0;
    const std::int32_t n = pack.Pack(out.data(), &outLen);
    if (n > static_cast<std::int32_t>(out.size())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    const std::uint8_t which = in.Next();
    const int count = in.Next() % 16;
    FieldTable t = BuiltinTable(static_cast<BuiltinForm>(which % 3));
    MutateTable(t, in, count);
    const std::string_view text(reinterpret_cast<const char*>(in.p), in.n);
    CommandResult result;
    ParseIso8583WithTable(text, t, result);
    if (result.Ok() && result.rows.size() < 2) std::abort();

    // The rest as raw bytes for the objects whose tables change after construction.
    CCupPosPack pack64;
    ChangedObject(pack64, Reader{data, std::min<std::size_t>(size, 40)}, in.p, in.n);
    CCupPosPackExt pack128;
    ChangedObject(pack128, Reader{data, std::min<std::size_t>(size, 40)}, in.p, in.n);
    return 0;
}
