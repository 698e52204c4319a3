// The keys file: a terminal's test keys and how MAC and PIN are computed with them (JSON).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/Mac.h"

/// The keys a message is checked or built with; any of them may be empty.
struct KeySet {
    SecretKey tmk;  ///< terminal master key: the working keys of a sign-in reply are under it
    SecretKey mak;  ///< MAC key
    SecretKey pik;  ///< PIN key
    SecretKey tdk;  ///< track data key
    std::optional<MacAlgorithm> macAlgorithm;  ///< nullopt: "auto", every algorithm is tried
    int pinFormat = 0;
    int kcvBytes = 4;
};

/// Reads a keys file's JSON text: {"tmk","mak","pik","tdk" (hex, 8, 16 or 24 bytes),
/// "macAlgorithm" ("unionpay-ecb", "x9.9", "x9.19" or "auto"), "pinFormat" (0-4),
/// "kcvBytes" (3 or 4)}, any subset. False with problem naming the member (never a key's digits).
[[nodiscard]] bool ParseKeysJson(std::string_view text, KeySet& keys, std::string& problem);
