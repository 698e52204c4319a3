// Fuzzes the BER-TLV decoder and its rows: any bytes as chip card data, masked and not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "emv/Tlv.h"
#include "emv/TlvRows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    TlvList list;
    DecodeTlv(bytes, list);
    // Every object lies inside the data and inside its parent, in document order.
    std::vector<std::uint32_t> ends;
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < list.objects.size(); ++i) {
        const TlvObject& o = list.objects[i];
        const std::uint64_t end = std::uint64_t{o.valueOffset} + o.length;
        if (end > size || o.offset < last || o.valueOffset <= o.offset) std::abort();
        if (o.depth > kTlvMaxDepth || o.depth > ends.size()) std::abort();
        ends.resize(o.depth);
        if (!ends.empty() && end > ends.back()) std::abort();
        if (o.opened) ends.push_back(static_cast<std::uint32_t>(end));
        if (o.next <= i || o.next > list.objects.size()) std::abort();
        last = o.offset;
    }
    if (list.Failed() && (list.error.offset >= size || list.error.offset < last)) std::abort();

    std::size_t shown = 0;
    for (const TlvObject& o : list.objects) shown += o.depth <= kTlvShownDepth ? 1 : 0;
    FieldRowList clear;
    for (const bool mask : {false, true}) {
        FieldRowList rows;
        std::vector<TlvRowNote> notes;
        AppendTlvRows(rows, notes, kNoFieldRow, bytes, list, 0, mask);
        // One row per object down to the shown depth, and at most one error row, the last.
        const std::size_t errorRows = list.Failed() ? 1 : 0;
        if (rows.size() != shown + errorRows || notes.size() != rows.size()) std::abort();
        // Masking changes characters, never the layout of a row.
        if (!mask) {
            clear = rows;
        } else {
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (rows[i].Value().size() != clear[i].Value().size()) std::abort();
            }
        }
        for (std::size_t i = 0; i + 1 < notes.size(); ++i) {
            if (notes[i].error) std::abort();
        }
        for (const FieldRow& row : rows) {
            if (row.Value().find('\0') != std::string_view::npos) std::abort();
        }
    }
    return 0;
}
