// Message authentication codes: ISO/IEC 9797-1 algorithms 1 and 3, and the UnionPay POS MAC.
#pragma once

#include <optional>
#include <string_view>

#include "crypto/Cipher.h"

enum class MacAlgorithm {
    X99,          ///< "x9.9": ISO/IEC 9797-1 algorithm 1, CBC-MAC, DES or triple DES by key length
    X919,         ///< "x9.19": ISO/IEC 9797-1 algorithm 3, the retail MAC, 16-byte key
    UnionPayEcb,  ///< "unionpay-ecb": XOR of the blocks, two encryptions over its hex text
};

/// The algorithms in the order "auto" tries them.
inline constexpr MacAlgorithm kMacAlgorithms[] = {MacAlgorithm::UnionPayEcb, MacAlgorithm::X99,
                                                  MacAlgorithm::X919};

[[nodiscard]] std::string_view MacAlgorithmName(MacAlgorithm alg);
[[nodiscard]] std::optional<MacAlgorithm> MacAlgorithmFromName(std::string_view name);

/// A MAC: the final 8-byte block and the 8 bytes a message's MAC field holds (the block itself,
/// or for unionpay-ecb the first 8 hex characters of the block as ASCII).
struct MacValue {
    Block8 block{};
    Block8 field{};
};

/// What a MAC is computed with: ISO/IEC 9797-1 padding method 1, 2 or 3 (unionpay-ecb always
/// pads with zeros) and an initial value (one block; empty: zero; not for unionpay-ecb).
struct MacParams {
    int padding = 1;
    ByteView iv;
};

/// Computes the MAC of data. BadKeyLength: x9.9 takes 8, 16 or 24 bytes, x9.19 16, unionpay-ecb
/// 8, 16 or 24; BadIvLength: an initial value that is not 8 bytes.
[[nodiscard]] CryptoStatus ComputeMac(MacAlgorithm alg, const SecretKey& key, ByteView data,
                                      const MacParams& params, MacValue& out);

/// Pads data by ISO/IEC 9797-1 padding method 1, 2 or 3 to whole 8-byte blocks.
[[nodiscard]] std::vector<std::uint8_t> PadIso9797(ByteView data, int method);
