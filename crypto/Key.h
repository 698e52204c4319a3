// A secret key whose bytes are wiped when it goes, and hex text read into one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/// The longest key held: an AES-256 key.
inline constexpr std::size_t kMaxKeyBytes = 32;

/// Key bytes in a fixed buffer (never reallocated, so no copy is left behind), cleansed on
/// destruction and when moved from. Never logged, never part of an error text.
class SecretKey {
public:
    SecretKey() = default;
    /// Bytes beyond kMaxKeyBytes are not taken (the key stays empty).
    explicit SecretKey(std::span<const std::uint8_t> bytes);
    SecretKey(const SecretKey& other);
    SecretKey& operator=(const SecretKey& other);
    SecretKey(SecretKey&& other) noexcept;
    SecretKey& operator=(SecretKey&& other) noexcept;
    ~SecretKey();

    [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return {m_bytes.data(), m_size}; }
    [[nodiscard]] std::size_t Size() const { return m_size; }
    [[nodiscard]] bool Empty() const { return m_size == 0; }
    void Wipe();

private:
    std::array<std::uint8_t, kMaxKeyBytes> m_bytes{};
    std::size_t m_size = 0;
};

/// Why a hex text is no key or no data.
enum class HexStatus { Ok, Empty, OddDigits, NotHex, TooLong };

/// Reads hex digits (no white space) into a key; kMaxKeyBytes at most.
[[nodiscard]] HexStatus ParseKeyHex(std::string_view text, SecretKey& key);
/// Reads hex digits (no white space) into bytes; empty text gives no bytes and Ok.
[[nodiscard]] HexStatus ParseHex(std::string_view text, std::vector<std::uint8_t>& bytes);
/// English phrase for a status ("an odd number of hex digits").
[[nodiscard]] std::string_view HexStatusText(HexStatus status);
/// Upper-case hex of bytes.
[[nodiscard]] std::string ToHex(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::string ToHex(std::string_view bytes);

/// Whether every byte of the key has odd parity (DES keys carry it in each byte's low bit).
[[nodiscard]] bool HasOddParity(std::span<const std::uint8_t> key);

/// Wipes a buffer that held key bytes or a PIN in the clear.
void WipeBytes(void* data, std::size_t size);

/// A fresh random key of the given length (1..kMaxKeyBytes), each byte of odd parity; false
/// when the random source fails (the key is then empty).
[[nodiscard]] bool MakeRandomKey(std::size_t bytes, SecretKey& key);
