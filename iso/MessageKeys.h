// Keys applied to ISO 8583 messages: the MAC of a message as received, checked or filled in.
#pragma once

#include <cstdint>
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

/// The MAC input of a decoded message, from the bytes it was decoded from: a form whose fields
/// are marked as MAC input takes their MAC text (joined by single spaces); else the bytes from
/// the message type up to the start of the MAC field. False when the table has no MAC field or
/// the message does not carry it.
[[nodiscard]] bool MessageMacInput(Message& message, std::span<const std::uint8_t> bytes,
                                   std::vector<std::uint8_t>& input);

/// The MAC field's value for a computed MAC: the 128-field form's MAC text (the first 4 bytes
/// of the block as 8 upper-case hex characters), else the algorithm's field bytes.
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
