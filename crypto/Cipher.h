// Block ciphers for test keys: single DES, triple DES and AES, ECB or CBC, no padding.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "crypto/Key.h"

using ByteView = std::span<const std::uint8_t>;
using Block8 = std::array<std::uint8_t, 8>;

enum class CipherAlg { Des, Tdes, Aes };
enum class CipherMode { Ecb, Cbc };

/// How a crypto step ended. Texts never carry key bytes.
enum class CryptoStatus {
    Ok,
    BadKeyLength,    ///< the key's length does not fit the algorithm
    NotWholeBlocks,  ///< the data is not a whole number of blocks
    BadIvLength,     ///< the initial value is not one block
    Failed,          ///< the library refused the operation
};

/// English phrase for a status, for one error line.
[[nodiscard]] std::string_view CryptoStatusText(CryptoStatus status);

/// Whether a key length suits the algorithm: DES 8; TDES 16 or 24 (a double-length key is
/// K1 K2 K1, so equal halves act as single DES); AES 16, 24 or 32.
[[nodiscard]] bool KeyLengthFits(CipherAlg alg, std::size_t bytes);
/// Block size in bytes: 8, or 16 for AES.
[[nodiscard]] std::size_t BlockSize(CipherAlg alg);

/// Encrypts or decrypts whole blocks; iv (one block) for CBC only, zero when empty.
[[nodiscard]] CryptoStatus RunCipher(CipherAlg alg, CipherMode mode, bool encrypt,
                                     const SecretKey& key, ByteView iv, ByteView data,
                                     std::vector<std::uint8_t>& out);

/// DES-family ECB by the key's length: 8 bytes single DES, 16 or 24 bytes triple DES.
[[nodiscard]] CryptoStatus DesEcb(bool encrypt, const SecretKey& key, ByteView data,
                                  std::vector<std::uint8_t>& out);

/// The key's check value: the key (DES family by its length) encrypting eight zero bytes, the
/// first `bytes` (1..8) bytes of the result.
[[nodiscard]] CryptoStatus KeyCheckValue(const SecretKey& key, std::size_t bytes,
                                         std::vector<std::uint8_t>& out);

/// A working key encrypted or decrypted under a master key (triple DES ECB by the master's length).
[[nodiscard]] CryptoStatus WrapKey(const SecretKey& master, const SecretKey& key,
                                   std::vector<std::uint8_t>& out);
[[nodiscard]] CryptoStatus UnwrapKey(const SecretKey& master, ByteView wrapped, SecretKey& key);
