// Keys applied to ISO 8583 messages: the MAC of a message as received, checked or filled in.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/KeysFile.h"
#include "iso/ParseIso8583.h"

/// The MAC check of one message.
struct MacCheck {
    bool done = false;      ///< the message carries a MAC field and a MAK was given
    int field = 0;          ///< 64 or 128
    std::string algorithm;  ///< the matching one, else the one asked for (empty with auto)
    std::string given;      ///< the MAC field as the message holds it (text, or hex of bytes)
    std::string computed;   ///< the same form, computed (with auto and no match: empty)
    bool match = false;
    std::vector<std::pair<std::string, std::string>> tried;  ///< auto without a match: each one
};

/// The algorithm a MAC check or fill uses: the keys' own, else the table's default; nullopt when
/// neither names one (a check tries every one, a fill takes the first).
[[nodiscard]] std::optional<MacAlgorithm> MessageMacAlgorithm(const FieldTable& table,
                                                              const KeySet& keys);

/// The MAC input of a decoded message as its table states it, from the bytes it was decoded
/// from: the MAC text of the marked fields joined by the table's separator, or the bytes from the
/// table's start (the message type unless it names a frame offset) up to the start of the MAC
/// field. False when the table has no MAC field or the message does not carry it.
[[nodiscard]] bool MessageMacInput(Message& message, std::span<const std::uint8_t> bytes,
                                   std::vector<std::uint8_t>& input);

/// The MAC field's value for a computed MAC in the table's form: the block, its first 4 bytes as
/// 8 upper-case hex characters, or the algorithm's own field bytes.
[[nodiscard]] std::vector<std::uint8_t> MacFieldBytes(const Message& message, const MacValue& mac);

/// Checks the MAC of a decoded message with the keys' MAK and algorithm.
void CheckMessageMac(Message& message, std::span<const std::uint8_t> bytes, const KeySet& keys,
                     MacCheck& check);

/// Decodes a message text as the request says and checks its MAC.
void CheckTextMac(std::string_view text, const ParseRequest& request, const KeySet& keys,
                  MacCheck& check);

/// Inserts the row "MAC校验" after the MAC field's row (texts in the rows' encoding).
void AddMacRow(CommandResult& result, const MacCheck& check);

/// Appends ,"mac":{…} for a check that was done.
void AppendMacJson(std::string& out, const MacCheck& check);

/// Writes the MAC computed with the keys' MAK (and algorithm, else the first one) into bytes, the
/// whole message that message was decoded from; false with problem when the message carries no
/// MAC field, no MAK was given, or the key does not fit the algorithm.
[[nodiscard]] bool FillMacBytes(Message& message, std::span<std::uint8_t> bytes,
                                const KeySet& keys, std::string& problem);

/// Writes the computed MAC into a built message text (hex) decoded by the request's form; false
/// with problem when the message has no MAC field, no MAK was given, or it does not decode.
[[nodiscard]] bool FillMessageMac(std::string& messageHex, const ParseRequest& request,
                                  const KeySet& keys, std::string& problem);

/// The digits of a field as a reader sees them: packed BCD as its digits without the pad nibble,
/// text as it stands (the message type is field 0).
[[nodiscard]] std::string FieldDigits(const Message& message, std::int32_t field);

/// The PAN of a message: field 2, else field 35 up to its separator; empty when neither.
[[nodiscard]] std::string MessagePan(const Message& message);

/// The PIN block check of field 52 under the PIK. The PIN is wiped when freed.
struct PinCheck {
    bool done = false;     ///< field 52, a PAN and a PIK were there
    int format = -1;       ///< from the block's first nibble; -1 when not even that is readable
    int length = 0;        ///< PIN digits (0 when not valid)
    bool valid = false;
    std::string pin;       ///< the digits (valid only)
    std::string problem;   ///< why not valid (English, never a key or PIN digit)
    PinCheck() = default;
    PinCheck(const PinCheck&) = delete;
    PinCheck& operator=(const PinCheck&) = delete;
    ~PinCheck();
};

/// The field carrying a PIN block.
inline constexpr std::int32_t kPinField = 52;
/// The field carrying a sign-in's working keys.
inline constexpr std::int32_t kWorkingKeysField = 62;

void CheckMessagePin(const Message& message, const KeySet& keys, PinCheck& check);

/// How field 62 of a sign-in reply is laid out, by the 60.3 code of the sign-in.
struct SignInLayout {
    std::string_view code;      ///< "001", "003" or "004"
    std::size_t keyBytes = 0;   ///< each working key's length
    std::size_t keys = 0;       ///< PIK, MAK (and TDK)
    [[nodiscard]] std::size_t FieldBytes() const { return keys * (keyBytes + 4); }
};
/// The layout of a 60.3 code; nullopt when the code asks for no working keys this way.
[[nodiscard]] std::optional<SignInLayout> SignInLayoutOf(std::string_view code);
/// The 60.3 code of a message (digits 9 to 11 of field 60); empty when it has none.
[[nodiscard]] std::string NetworkCode(const Message& message);
/// The working key names in field 62's order.
inline constexpr std::string_view kWorkingKeyNames[] = {"PIK", "MAK", "TDK"};

/// One working key of a sign-in reply, opened under the TMK. The key is wiped when freed.
struct WorkingKeyCheck {
    std::string name;      ///< "PIK", "MAK" or "TDK"
    std::string kcv;       ///< the check value the message carries (hex)
    std::string computed;  ///< the check value of the opened key (hex)
    bool match = false;
    SecretKey key;
};

/// The working keys of a sign-in reply (type 0810 with field 62).
struct SignInCheck {
    bool done = false;
    std::vector<WorkingKeyCheck> keys;
    std::string problem;  ///< why field 62 could not be opened (English)
};

void CheckSignInReply(const Message& message, const KeySet& keys, SignInCheck& check);

/// Fresh working keys for a sign-in reply: keys.pik, keys.mak (and keys.tdk) made at random
/// and field 62's bytes (each key under the TMK, then its 4-byte check value). False with
/// problem when the TMK is missing or the random source fails.
[[nodiscard]] bool MakeSignInKeys(const SecretKey& tmk, const SignInLayout& layout,
                                  KeySet& working, std::vector<std::uint8_t>& field62,
                                  std::string& problem);

/// What the rows and JSON show in the clear.
struct KeyShow {
    bool pin = false;   ///< the PIN digits
    bool keys = false;  ///< the working keys of a sign-in reply
};

/// Every check the keys allow on one message.
struct MessageChecks {
    MacCheck mac;
    PinCheck pin;
    SignInCheck signIn;
};

/// Decodes a message text as the request says and runs every check.
void CheckTextKeys(std::string_view text, const ParseRequest& request, const KeySet& keys,
                   MessageChecks& checks);

/// Rows "MAC校验", "PIN校验" and the sub-rows "  PIK", "  MAK", "  TDK" of field 62.
void AddKeyRows(CommandResult& result, const MessageChecks& checks, const KeyShow& show);

/// Appends ,"mac":{…},"pin":{…},"keys":[…] for the checks that were done.
void AppendKeyChecksJson(std::string& out, const MessageChecks& checks, const KeyShow& show);

/// Whether a row is one the checks add ("MAC校验", "PIN校验"): building rows back skips them.
[[nodiscard]] bool IsKeyCheckRow(const FieldRow& row);

/// Sets field 52 of a built message text (hex) to the PIN's block under the PIK, in the keys'
/// PIN format, with the message's PAN; false with problem (never the PIN or a key).
[[nodiscard]] bool FillMessagePin(std::string& messageHex, const ParseRequest& request,
                                  const KeySet& keys, std::string_view pin, std::string& problem);

/// Writes the MAC of encoded message bytes (as decoded into message) into its MAC field with the
/// MAK and algorithm given; false when it has no MAC field or the key does not fit.
[[nodiscard]] bool FillMacBytes(Message& message, std::span<std::uint8_t> bytes,
                                const SecretKey& mak, MacAlgorithm alg);
