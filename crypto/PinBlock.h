// ISO 9564-1 PIN blocks, formats 0 to 3 under a triple DES key and format 4 under AES.
#pragma once

#include <string>
#include <string_view>

#include "crypto/Cipher.h"

/// Why a PIN block could not be made or read.
enum class PinStatus {
    Ok,
    BadFormat,     ///< not format 0, 1, 2, 3 or 4
    BadPin,        ///< not 4 to 12 digits
    BadPan,        ///< not 1 to 19 digits
    NoPan,         ///< the format takes the PAN and none was given
    BadFill,       ///< the given fill has the wrong count or kind of hex digits
    BadKeyLength,  ///< the key does not fit the format's cipher
    BadBlock,      ///< the block is not 8 (formats 0-3) or 16 (format 4) bytes
    NotValid,      ///< the block read back is no well-formed PIN block (wrong key or PAN)
    Failed,        ///< the cipher failed
};

/// English phrase for a status, for one error line; never carries the PIN.
[[nodiscard]] std::string_view PinStatusText(PinStatus status);

/// What a PIN block is made of. fill: hex digits used in place of random fill (formats 1 and 3:
/// the fill nibbles in order; format 4: the 8 random bytes); empty: random.
struct PinInput {
    int format = 0;
    std::string_view pin;
    std::string_view pan;
    std::string_view fill;
};

/// A PIN block: clear (formats 0-3 the block before encryption; format 4 the plain PIN field)
/// and, when a key was given, the encrypted block. Both wiped when freed.
struct PinBlock {
    std::vector<std::uint8_t> clear;
    std::vector<std::uint8_t> encrypted;
    ~PinBlock();
};

/// Makes a PIN block; key may be null (no encryption). Formats 0-3 take a 16- or 24-byte triple
/// DES key (8 bytes: single DES), format 4 an AES key.
[[nodiscard]] PinStatus MakePinBlock(const PinInput& in, const SecretKey* key, PinBlock& out);

/// A PIN block read back; the PIN is wiped when freed.
struct PinRead {
    int format = -1;
    std::string pin;
    ~PinRead();
};

/// Reads a PIN block: encrypted when key is given, else clear. The format comes from its
/// first nibble; formats 0, 3 and 4 (encrypted) need the PAN. NotValid when the control nibble,
/// the length, the PIN digits or the fill are not as the format requires.
[[nodiscard]] PinStatus ReadPinBlock(ByteView block, std::string_view pan, const SecretKey* key,
                                     PinRead& out);
