// A secret key whose bytes are wiped when it goes, and hex text read into one.
#include "crypto/Key.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <bit>

SecretKey::SecretKey(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxKeyBytes) return;
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin());
    m_size = bytes.size();
}

SecretKey::SecretKey(const SecretKey& other) : m_bytes(other.m_bytes), m_size(other.m_size) {}

SecretKey& SecretKey::operator=(const SecretKey& other) {
    if (this != &other) {
        m_bytes = other.m_bytes;
        m_size = other.m_size;
    }
    return *this;
}

SecretKey::SecretKey(SecretKey&& other) noexcept : m_bytes(other.m_bytes), m_size(other.m_size) {
    other.Wipe();
}

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept {
    if (this != &other) {
        m_bytes = other.m_bytes;
        m_size = other.m_size;
        other.Wipe();
    }
    return *this;
}

SecretKey::~SecretKey() { Wipe(); }

void SecretKey::Wipe() {
    OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_size = 0;
}

void WipeBytes(void* data, std::size_t size) {
    if (data != nullptr && size != 0) OPENSSL_cleanse(data, size);
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

HexStatus CheckHex(std::string_view text) {
    if (text.size() % 2 != 0) return HexStatus::OddDigits;
    for (char c : text) {
        if (HexValue(c) < 0) return HexStatus::NotHex;
    }
    return HexStatus::Ok;
}

}  // namespace

HexStatus ParseKeyHex(std::string_view text, SecretKey& key) {
    key.Wipe();
    if (text.empty()) return HexStatus::Empty;
    if (const HexStatus s = CheckHex(text); s != HexStatus::Ok) return s;
    if (text.size() / 2 > kMaxKeyBytes) return HexStatus::TooLong;
    std::array<std::uint8_t, kMaxKeyBytes> bytes{};
    for (std::size_t i = 0; i < text.size() / 2; ++i) {
        bytes[i] = static_cast<std::uint8_t>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
    }
    key = SecretKey(std::span<const std::uint8_t>(bytes.data(), text.size() / 2));
    WipeBytes(bytes.data(), bytes.size());
    return HexStatus::Ok;
}

HexStatus ParseHex(std::string_view text, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (const HexStatus s = CheckHex(text); s != HexStatus::Ok) return s;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1])));
    }
    return HexStatus::Ok;
}

std::string_view HexStatusText(HexStatus status) {
    switch (status) {
        case HexStatus::Ok:
            return "hex digits";
        case HexStatus::Empty:
            return "no hex digits";
        case HexStatus::OddDigits:
            return "an odd number of hex digits";
        case HexStatus::NotHex:
            return "a character that is not a hex digit";
        case HexStatus::TooLong:
            return "more than 32 bytes";
    }
    return "";
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

std::string ToHex(std::string_view bytes) {
    return ToHex(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

bool HasOddParity(std::span<const std::uint8_t> key) {
    return !key.empty() &&
           std::all_of(key.begin(), key.end(), [](std::uint8_t b) { return std::popcount(b) % 2 == 1; });
}

bool MakeRandomKey(std::size_t bytes, SecretKey& key) {
    key.Wipe();
    if (bytes == 0 || bytes > kMaxKeyBytes) return false;
    std::array<std::uint8_t, kMaxKeyBytes> raw{};
    const bool ok = RAND_bytes(raw.data(), static_cast<int>(bytes)) == 1;
    if (ok) {
        // DES keys carry odd parity in each byte's low bit, as a key loader expects.
        for (std::size_t i = 0; i < bytes; ++i) {
            if (std::popcount(raw[i]) % 2 == 0) raw[i] ^= 0x01;
        }
        key = SecretKey(std::span<const std::uint8_t>(raw.data(), bytes));
    }
    OPENSSL_cleanse(raw.data(), raw.size());
    return ok;
}
