// Message authentication codes: ISO/IEC 9797-1 algorithms 1 and 3, and the UnionPay POS MAC.
#include "crypto/Mac.h"

#include <algorithm>

namespace {

/// The last block of CBC encryption of whole blocks.
CryptoStatus CbcLastBlock(CipherAlg alg, const SecretKey& key, ByteView iv, ByteView data,
                          Block8& last) {
    std::vector<std::uint8_t> out;
    const CryptoStatus s = RunCipher(alg, CipherMode::Cbc, true, key, iv, data, out);
    if (s != CryptoStatus::Ok) return s;
    std::copy(out.end() - 8, out.end(), last.begin());
    return s;
}

CryptoStatus EcbBlock(const SecretKey& key, bool encrypt, const Block8& in, Block8& out) {
    std::vector<std::uint8_t> result;
    const CryptoStatus s = DesEcb(encrypt, key, in, result);
    if (s == CryptoStatus::Ok) std::copy(result.begin(), result.end(), out.begin());
    return s;
}

Block8 HexHalf(const Block8& block, std::size_t half) {
    const std::string hex = ToHex(block);
    Block8 out{};
    std::copy_n(hex.begin() + static_cast<std::ptrdiff_t>(half * 8), 8, out.begin());
    return out;
}

CryptoStatus UnionPayEcbMac(const SecretKey& key, ByteView data, MacValue& out) {
    Block8 x{};
    for (std::size_t i = 0; i < data.size(); ++i) x[i % 8] ^= data[i];  // zero fill adds nothing
    Block8 enc{};
    if (const CryptoStatus s = EcbBlock(key, true, HexHalf(x, 0), enc); s != CryptoStatus::Ok) {
        return s;
    }
    const Block8 low = HexHalf(x, 1);
    for (std::size_t i = 0; i < 8; ++i) enc[i] ^= low[i];
    if (const CryptoStatus s = EcbBlock(key, true, enc, out.block); s != CryptoStatus::Ok) return s;
    out.field = HexHalf(out.block, 0);
    return CryptoStatus::Ok;
}

}  // namespace

std::string_view MacAlgorithmName(MacAlgorithm alg) {
    switch (alg) {
        case MacAlgorithm::X99:
            return "x9.9";
        case MacAlgorithm::X919:
            return "x9.19";
        case MacAlgorithm::UnionPayEcb:
            return "unionpay-ecb";
    }
    return "";
}

std::optional<MacAlgorithm> MacAlgorithmFromName(std::string_view name) {
    for (MacAlgorithm alg : kMacAlgorithms) {
        if (MacAlgorithmName(alg) == name) return alg;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> PadIso9797(ByteView data, int method) {
    std::vector<std::uint8_t> out;
    if (method == 3) {
        // A first block holding the data's length in bits, big-endian.
        std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
    out.insert(out.end(), data.begin(), data.end());
    if (method == 2) out.push_back(0x80);
    // Method 1 pads an empty text to one block of zeros; methods 2 and 3 never leave it empty.
    if (out.empty() || out.size() % 8 != 0) out.resize((out.size() / 8 + 1) * 8, 0);
    return out;
}

CryptoStatus ComputeMac(MacAlgorithm alg, const SecretKey& key, ByteView data,
                        const MacParams& params, MacValue& out) {
    out = {};
    if (!params.iv.empty() && params.iv.size() != 8) return CryptoStatus::BadIvLength;
    switch (alg) {
        case MacAlgorithm::UnionPayEcb:
            if (!KeyLengthFits(CipherAlg::Tdes, key.Size()) && key.Size() != 8) {
                return CryptoStatus::BadKeyLength;
            }
            return UnionPayEcbMac(key, data, out);
        case MacAlgorithm::X99: {
            const CipherAlg c = key.Size() == 8 ? CipherAlg::Des : CipherAlg::Tdes;
            if (!KeyLengthFits(c, key.Size())) return CryptoStatus::BadKeyLength;
            const CryptoStatus s =
                CbcLastBlock(c, key, params.iv, PadIso9797(data, params.padding), out.block);
            out.field = out.block;
            return s;
        }
        case MacAlgorithm::X919: {
            if (key.Size() != 16) return CryptoStatus::BadKeyLength;
            // Single DES CBC under K1 over every block, then the last block decrypted under K2
            // and encrypted under K1 again.
            const SecretKey k1(key.Bytes().first(8));
            const SecretKey k2(key.Bytes().last(8));
            Block8 h{};
            CryptoStatus s = CbcLastBlock(CipherAlg::Des, k1, params.iv,
                                          PadIso9797(data, params.padding), h);
            if (s == CryptoStatus::Ok) s = EcbBlock(k2, false, h, h);
            if (s == CryptoStatus::Ok) s = EcbBlock(k1, true, h, out.block);
            out.field = out.block;
            return s;
        }
    }
    return CryptoStatus::Failed;
}
