// The outcome of one command: rows, a message text, or the system's error text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec/Failure.h"
#include "codec/FieldRow.h"
#include "iso/SendReport.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"
#include "emv/TlvRows.h"

enum class Outcome {
    Ok,             // rows and/or a message text
    Failed,         // error holds the system's message text
    NoLengthMatch,  // automatic mode: neither length form fits; nothing is shown
};

/// What the rows of a Failed result are.
enum class FailedRows : std::uint8_t {
    None,     ///< no rows to show
    Stand,    ///< the command's rows, shown as if it had succeeded (a packet that did not serialise)
    Partial,  ///< the rows decoded before the failure, shown only on request, then an error row
};

struct CommandResult {
    Outcome outcome = Outcome::Ok;
    std::string_view error;  // one of the texts of codec/Texts.h when Failed
    std::string detail;      // optional detail for the command line, English, one line
    SendReport send;         // the send command: bytes sent and the host's reply
    FieldRowList rows;       // rows for the field list (Ok)
    TextEncoding rowEncoding = TextEncoding::Gbk;
    std::string message;     // build commands: the exact bytes of the message text
    TextEncoding messageEncoding = TextEncoding::Gbk;
    FailureDetail failure;              // Failed decodings: where they stopped
    FailedRows failedRows = FailedRows::None;  // Failed: what rows holds
    std::vector<std::string> warnings;  // English, one line each; also on Ok
    std::vector<TlvRowNote> tlv;        // the rows that decode a TLV field's data

    [[nodiscard]] bool Ok() const { return outcome == Outcome::Ok; }
    /// Empties the result for reuse, keeping the capacity of rows and message.
    void Reset() {
        outcome = Outcome::Ok;
        error = {};
        detail.clear();
        send = {};
        rows.clear();
        rowEncoding = TextEncoding::Gbk;
        message.clear();
        messageEncoding = TextEncoding::Gbk;
        failure = {};
        failedRows = FailedRows::None;
        warnings.clear();
        tlv.clear();
    }
    /// Rows to show although the command failed (FailedRows::Stand).
    [[nodiscard]] bool RowsStand() const {
        return outcome == Outcome::Ok || failedRows == FailedRows::Stand;
    }
    /// The detail as one line that names field, byte offset and reason (the window's informative
    /// text and the command line's detail line); the plain detail when no failure was recorded.
    [[nodiscard]] std::string DetailLine() const {
        if (!failure.Known() || failure.field < 0 || failure.offset < 0 ||
            failure.reason.find("byte " + std::to_string(failure.offset)) != std::string::npos) {
            return detail.empty() ? failure.reason : detail;
        }
        return failure.reason + " (byte " + std::to_string(failure.offset) + ")";
    }
    void Fail(std::string_view text, std::string why = {}) {
        outcome = Outcome::Failed;
        error = text;
        detail = std::move(why);
    }
};

/// The opening check of every command that takes a message text: an empty text fails with
/// "报文为空!", one over 10239 characters with tooLong and a detail naming its size. True when the
/// command goes on. White space is the text's own: only the command knows what it means there.
[[nodiscard]] inline bool OpenMessageText(std::string_view text, std::string_view tooLong,
                                          CommandResult& result) {
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return false;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(tooLong, "message text of " + std::to_string(text.size()) +
                                 " characters exceeds " + std::to_string(kMaxMessageText));
        result.failure.reason = result.detail;
        return false;
    }
    return true;
}

