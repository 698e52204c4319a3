// ISO 9564-1 PIN blocks, formats 0 to 3 under a triple DES key and format 4 under AES.
#include "crypto/PinBlock.h"

#include <openssl/rand.h>

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kMinPin = 4;
constexpr std::size_t kMaxPin = 12;
constexpr std::size_t kMaxPan = 19;

bool AllDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

/// Nibbles written into bytes, high nibble first.
class NibbleWriter {
public:
    explicit NibbleWriter(std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    void Put(int n) {
        const std::size_t byte = m_at / 2;
        m_bytes[byte] = static_cast<std::uint8_t>(
            m_at % 2 == 0 ? (m_bytes[byte] & 0x0F) | (n << 4) : (m_bytes[byte] & 0xF0) | n);
        ++m_at;
    }
    [[nodiscard]] std::size_t At() const { return m_at; }

private:
    std::vector<std::uint8_t>& m_bytes;
    std::size_t m_at = 0;
};

int NibbleAt(ByteView bytes, std::size_t i) {
    return i % 2 == 0 ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
}

/// A random nibble from lo to 15, drawn without bias.
bool RandomNibble(int lo, int& n) {
    const int span = 16 - lo;
    const int limit = 256 - 256 % span;
    for (;;) {
        unsigned char b = 0;
        if (RAND_bytes(&b, 1) != 1) return false;
        if (b < limit) {
            n = lo + b % span;
            return true;
        }
    }
}

/// The PAN field of formats 0 and 3: four zero nibbles, then the 12 rightmost digits without the
/// check digit (zeros in front of a shorter account number).
std::vector<std::uint8_t> PanField8(std::string_view pan) {
    const std::string_view body = pan.substr(0, pan.size() - 1);
    const std::string_view digits = body.size() > 12 ? body.substr(body.size() - 12) : body;
    std::vector<std::uint8_t> field(8, 0);
    NibbleWriter w(field);
    for (std::size_t i = 0; i < 16 - digits.size(); ++i) w.Put(0);
    for (char c : digits) w.Put(c - '0');
    return field;
}

/// The PAN field of format 4: the digits beyond 12 as a nibble, the PAN (at least 12 digits,
/// zeros in front), zeros after.
std::vector<std::uint8_t> PanField16(std::string_view pan) {
    std::vector<std::uint8_t> field(16, 0);
    NibbleWriter w(field);
    w.Put(pan.size() > 12 ? static_cast<int>(pan.size() - 12) : 0);
    for (std::size_t i = pan.size(); i < 12; ++i) w.Put(0);
    for (char c : pan) w.Put(c - '0');
    return field;
}

void XorInto(std::vector<std::uint8_t>& a, ByteView b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) a[i] ^= b[i];
}

bool PanValid(std::string_view pan) {
    return !pan.empty() && pan.size() <= kMaxPan && AllDigits(pan);
}

bool UsesPan(int format) { return format == 0 || format == 3 || format == 4; }

CryptoStatus Aes(bool encrypt, const SecretKey& key, std::vector<std::uint8_t>& block) {
    std::vector<std::uint8_t> out;
    const CryptoStatus s = RunCipher(CipherAlg::Aes, CipherMode::Ecb, encrypt, key, {}, block, out);
    if (s == CryptoStatus::Ok) block.swap(out);
    WipeBytes(out.data(), out.size());
    return s;
}

/// Format 4's PIN field: control, length, PIN, fill 'A' to 16 nibbles, then 8 random bytes.
PinStatus MakePinField4(const PinInput& in, std::vector<std::uint8_t>& field) {
    field.assign(16, 0);
    NibbleWriter w(field);
    w.Put(4);
    w.Put(static_cast<int>(in.pin.size()));
    for (char c : in.pin) w.Put(c - '0');
    while (w.At() < 16) w.Put(0xA);
    if (!in.fill.empty()) {
        if (in.fill.size() != 16) return PinStatus::BadFill;
        for (char c : in.fill) {
            const int n = Nibble(c);
            if (n < 0) return PinStatus::BadFill;
            w.Put(n);
        }
    } else if (RAND_bytes(field.data() + 8, 8) != 1) {
        return PinStatus::Failed;
    }
    return PinStatus::Ok;
}

PinStatus MakeClear8(const PinInput& in, std::vector<std::uint8_t>& block) {
    block.assign(8, 0);
    NibbleWriter w(block);
    w.Put(in.format);
    w.Put(static_cast<int>(in.pin.size()));
    for (char c : in.pin) w.Put(c - '0');
    const std::size_t fillCount = 16 - w.At();
    const bool randomFill = in.format == 1 || in.format == 3;
    if (!in.fill.empty() && (!randomFill || in.fill.size() != fillCount)) return PinStatus::BadFill;
    for (std::size_t i = 0; i < fillCount; ++i) {
        int n = 0xF;
        if (randomFill && !in.fill.empty()) {
            n = Nibble(in.fill[i]);
            if (n < 0 || (in.format == 3 && n < 0xA)) return PinStatus::BadFill;
        } else if (randomFill && !RandomNibble(in.format == 3 ? 0xA : 0, n)) {
            return PinStatus::Failed;
        }
        w.Put(n);
    }
    if (UsesPan(in.format)) XorInto(block, PanField8(in.pan));
    return PinStatus::Ok;
}

/// Checks a clear PIN field (formats 0-3 after the PAN is taken off, format 4's PIN field).
PinStatus CheckPinField(ByteView field, PinRead& out) {
    const int format = NibbleAt(field, 0);
    const std::size_t length = static_cast<std::size_t>(NibbleAt(field, 1));
    if (format > 4 || (format == 4) != (field.size() == 16)) return PinStatus::NotValid;
    if (length < kMinPin || length > kMaxPin) return PinStatus::NotValid;
    std::string pin;
    for (std::size_t i = 0; i < length; ++i) {
        const int n = NibbleAt(field, 2 + i);
        if (n > 9) {
            WipeBytes(pin.data(), pin.size());
            return PinStatus::NotValid;
        }
        pin += static_cast<char>('0' + n);
    }
    for (std::size_t i = 2 + length; i < 16; ++i) {
        const int n = NibbleAt(field, i);
        const bool ok = format == 1 || (format == 3 ? n >= 0xA : format == 4 ? n == 0xA : n == 0xF);
        if (!ok) {
            WipeBytes(pin.data(), pin.size());
            return PinStatus::NotValid;
        }
    }
    out.format = format;
    out.pin = std::move(pin);
    return PinStatus::Ok;
}

}  // namespace

PinBlock::~PinBlock() {
    WipeBytes(clear.data(), clear.size());
    WipeBytes(encrypted.data(), encrypted.size());
}

PinRead::~PinRead() { WipeBytes(pin.data(), pin.size()); }

std::string_view PinStatusText(PinStatus status) {
    switch (status) {
        case PinStatus::Ok:
            return "ok";
        case PinStatus::BadFormat:
            return "the PIN block format must be 0, 1, 2, 3 or 4";
        case PinStatus::BadPin:
            return "the PIN must be 4 to 12 digits";
        case PinStatus::BadPan:
            return "the PAN must be 1 to 19 digits";
        case PinStatus::NoPan:
            return "this PIN block format needs the PAN";
        case PinStatus::BadFill:
            return "the fill does not fit the format (formats 1 and 3: one hex digit for each "
                   "fill nibble, format 3 only A-F; format 4: 16 hex digits)";
        case PinStatus::BadKeyLength:
            return "the key's length does not fit the format (formats 0-3: 8, 16 or 24 bytes; "
                   "format 4: 16, 24 or 32 bytes)";
        case PinStatus::BadBlock:
            return "a PIN block is 8 bytes (formats 0-3) or 16 bytes (format 4)";
        case PinStatus::NotValid:
            return "not a valid PIN block";
        case PinStatus::Failed:
            return "the cipher failed";
    }
    return "";
}

PinStatus MakePinBlock(const PinInput& in, const SecretKey* key, PinBlock& out) {
    out.clear.clear();
    out.encrypted.clear();
    if (in.format < 0 || in.format > 4) return PinStatus::BadFormat;
    if (in.pin.size() < kMinPin || in.pin.size() > kMaxPin || !AllDigits(in.pin)) {
        return PinStatus::BadPin;
    }
    if (!in.pan.empty() && !PanValid(in.pan)) return PinStatus::BadPan;
    if (in.pan.empty() && UsesPan(in.format) && (in.format != 4 || key != nullptr)) {
        return PinStatus::NoPan;
    }
    if (key != nullptr) {
        const CipherAlg alg = in.format == 4 ? CipherAlg::Aes : CipherAlg::Tdes;
        if (!KeyLengthFits(alg, key->Size()) && !(alg == CipherAlg::Tdes && key->Size() == 8)) {
            return PinStatus::BadKeyLength;
        }
    }
    if (in.format == 4) {
        if (const PinStatus s = MakePinField4(in, out.clear); s != PinStatus::Ok) return s;
        if (key == nullptr) return PinStatus::Ok;
        // Format 4: the PIN field enciphered, XORed with the PAN field, enciphered again.
        out.encrypted = out.clear;
        if (Aes(true, *key, out.encrypted) != CryptoStatus::Ok) return PinStatus::Failed;
        XorInto(out.encrypted, PanField16(in.pan));
        if (Aes(true, *key, out.encrypted) != CryptoStatus::Ok) return PinStatus::Failed;
        return PinStatus::Ok;
    }
    if (const PinStatus s = MakeClear8(in, out.clear); s != PinStatus::Ok) return s;
    if (key != nullptr && DesEcb(true, *key, out.clear, out.encrypted) != CryptoStatus::Ok) {
        return PinStatus::Failed;
    }
    return PinStatus::Ok;
}

PinStatus ReadPinBlock(ByteView block, std::string_view pan, const SecretKey* key, PinRead& out) {
    out.format = -1;
    if (block.size() != 8 && block.size() != 16) return PinStatus::BadBlock;
    if (!pan.empty() && !PanValid(pan)) return PinStatus::BadPan;
    std::vector<std::uint8_t> clear(block.begin(), block.end());
    PinStatus status = PinStatus::Ok;
    if (block.size() == 16) {
        if (key != nullptr) {
            if (!KeyLengthFits(CipherAlg::Aes, key->Size())) return PinStatus::BadKeyLength;
            if (pan.empty()) return PinStatus::NoPan;
            if (Aes(false, *key, clear) != CryptoStatus::Ok) return PinStatus::Failed;
            XorInto(clear, PanField16(pan));
            if (Aes(false, *key, clear) != CryptoStatus::Ok) return PinStatus::Failed;
        }
        status = CheckPinField(clear, out);
    } else {
        if (key != nullptr) {
            if (!KeyLengthFits(CipherAlg::Tdes, key->Size()) && key->Size() != 8) {
                return PinStatus::BadKeyLength;
            }
            std::vector<std::uint8_t> decrypted;
            if (DesEcb(false, *key, block, decrypted) != CryptoStatus::Ok) return PinStatus::Failed;
            clear.swap(decrypted);
            WipeBytes(decrypted.data(), decrypted.size());
        }
        const int format = NibbleAt(clear, 0);
        if (UsesPan(format) && format != 4) {
            if (pan.empty()) {
                status = PinStatus::NoPan;
            } else {
                XorInto(clear, PanField8(pan));
            }
        }
        if (status == PinStatus::Ok) status = CheckPinField(clear, out);
    }
    WipeBytes(clear.data(), clear.size());
    return status;
}
