// Fuzzes Unpack of both pack objects on raw bytes, then Pack, the MAC input and the rows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"

namespace {

template <typename Pack>
void Exercise(Pack& pack, const std::uint8_t* data, std::int32_t len, std::size_t readable) {
    const std::int32_t r = pack.UnpackWithin(data, len, readable);
    FieldRowList rows;
    BuildRows(rows, pack);
    (void)r;
    const auto size = static_cast<std::size_t>(pack.MaxPackedSize());
    // Exactly the promised room, on the heap, so any write past it is caught.
    std::vector<std::uint8_t> out(size);
    std::int32_t outLen = 0;
    for (int round = 0; round < 2; ++round) {
        const std::int32_t n = pack.Pack(out.data(), &outLen);
        if (n > static_cast<std::int32_t>(size)) std::abort();
        if (n > 0 && n != outLen) std::abort();
    }
    pack.Clear();
    if (pack.Pack(out.data(), &outLen) != -1) std::abort();  // an empty object has no body
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Byte 0: the length flags and how many bytes at the end lie past len but stay readable.
    const std::uint8_t flags = data[0];
    const std::uint8_t* msg = data + 1;
    const std::size_t readable = size - 1;
    const std::size_t tail = std::min<std::size_t>(readable, flags >> 4);
    const auto len = static_cast<std::int32_t>(readable - tail);

    CCupPosPack pack64;
    pack64.m_hasLengthPrefix = flags & 1;
    Exercise(pack64, msg, len, readable);

    CCupPosPackExt pack128;
    pack128.m_hasLengthPrefix = (flags >> 1) & 1;
    Exercise(pack128, msg, len, readable);
    std::vector<std::uint8_t> mac(kMacInputScratch);
    (void)pack128.UnpackWithin(msg, len, readable);
    if (pack128.BuildMacInput(mac.data()) >= kMacInputScratch) std::abort();

    // The virtual entry reads only len bytes.
    CCupPosPack bounded;
    (void)bounded.Unpack(msg, len);
    return 0;
}
