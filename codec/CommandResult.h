// The outcome of one command: rows, a message text, or the system's error text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "codec/FieldRow.h"
#include "codec/TextDecode.h"
#include "codec/TlvRows.h"

enum class Outcome {
    Ok,             // rows and/or a message text
    Failed,         // error holds the system's message text
    NoLengthMatch,  // automatic mode: neither length form fits; nothing is shown
};

struct CommandResult {
    Outcome outcome = Outcome::Ok;
    std::string_view error;  // one of the texts of codec/Texts.h when Failed
    std::string detail;      // optional detail for the command line, English, one line
    FieldRowList rows;       // rows for the field list (Ok)
    TextEncoding rowEncoding = TextEncoding::Gbk;
    std::string message;     // build commands: the exact bytes of the message text
    TextEncoding messageEncoding = TextEncoding::Gbk;
    std::vector<TlvRowNote> tlv;  // the rows that decode a TLV field's data

    [[nodiscard]] bool Ok() const { return outcome == Outcome::Ok; }
    /// Empties the result for reuse, keeping the capacity of rows and message.
    void Reset() {
        outcome = Outcome::Ok;
        error = {};
        detail.clear();
        rows.clear();
        rowEncoding = TextEncoding::Gbk;
        message.clear();
        messageEncoding = TextEncoding::Gbk;
        tlv.clear();
    }
    void Fail(std::string_view text, std::string why = {}) {
        outcome = Outcome::Failed;
        error = text;
        detail = std::move(why);
    }
};
