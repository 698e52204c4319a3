// The ISO 8583 parse command: message text and interface type in, rows or an error out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <memory>
#include <vector>

#include "iso/CommandResult.h"
#include "codec/FieldStore.h"
#include "codec/FieldTable.h"
#include "codec/Message.h"

/// Interface types of the dialog's combo box.
enum InterfaceType : int { kInterfaceAuto = 0, kInterface64 = 1, kInterface128 = 2 };

/// Decodes a message text (hex, white space allowed) as a 64-field or 128-field message.
/// Ok with rows; Failed with "报文为空!" or "iso8583报文解析出错!"; NoLengthMatch in automatic mode
/// when neither length form fits.
[[nodiscard]] CommandResult ParseIso8583Text(std::string_view text, int interfaceType);
/// What the rows show beyond the fields themselves.
struct ParseOptions {
    bool tlv = false;   // field 55's tags as sub-rows after its row
    bool mask = false;  // card numbers (2, 35, 36, and 5A, 57 in 55) show 6 + 4 digits only
    /// Meanings, sub-fields and the summary row also for a table that shows them only on
    /// request (the exact built-in forms).
    bool explain = false;
    /// The table of a shipped table's name, for a table whose meanings live in another
    /// (FieldTable::explainFrom); null: such a table is explained by its own fields only.
    const FieldTable* (*explainTable)(std::string_view name) = nullptr;
};
/// The parse command with options; with none set, the same rows as without.
void ParseIso8583Text(std::string_view text, int interfaceType, const ParseOptions& options,
                      CommandResult& result);
/// The same into a result that is reset first and whose capacity is reused (batch work).
void ParseIso8583Text(std::string_view text, int interfaceType, CommandResult& result);

/// Decodes a message text with any table value: its framing parts by their detection rules (a
/// Length part is there when its value counts the bytes after it), then type, bitmap and fields.
/// Ok with rows (field titles are the table's business, not the rows'); Failed with "报文为空!"
/// or "iso8583报文解析出错!", the failure detail and the rows decoded before the failure.
void ParseIso8583WithTable(std::string_view text, const FieldTable& table, CommandResult& result);
/// The same with row options. The fields a table marks as TLV get their sub-rows unless the
/// table says otherwise (the built-in forms: only with options.tlv).
void ParseIso8583WithTable(std::string_view text, const FieldTable& table,
                           const ParseOptions& options, CommandResult& result);
[[nodiscard]] CommandResult ParseIso8583WithTable(std::string_view text, const FieldTable& table);

/// The form a message is decoded with, and whether its Length part is there.
struct FormChoice {
    const FieldTable* table = nullptr;  ///< nullptr: no length form fits
    LengthRule length = LengthRule::Match;
};
/// The built-in form for a message of L bytes (readable bytes at bytes) and an interface type:
/// read from the built-in tables' Length parts. A matching 4-digit ASCII length chooses 128
/// fields whatever the type; the type decides whether the length is skipped.
[[nodiscard]] FormChoice ChooseForm(const std::uint8_t* bytes, std::size_t readable,
                                    std::int64_t L, int interfaceType);

/// What to decode a message text as.
struct ParseRequest {
    int interfaceType = kInterfaceAuto;  ///< the built-in forms, when table is null
    const FieldTable* table = nullptr;   ///< a table to decode with (outlives the request)
    ParseOptions options;
    bool titles = false;  ///< rows carry the table's field names
};

/// The one parse driver: decodes message texts by built-in forms or any table, holding one
/// message per form so that batch work builds none per text. One per thread; it keeps no result
/// between texts.
class IsoParser {
public:
    IsoParser();
    IsoParser(const IsoParser&) = delete;
    IsoParser& operator=(const IsoParser&) = delete;
    ~IsoParser();

    /// The result is reset first and its capacity reused. Ok with rows; Failed with "报文为空!" or
    /// "iso8583报文解析出错!", the failure detail and the rows decoded before the failure;
    /// NoLengthMatch in automatic mode when no length form fits.
    void Parse(std::string_view text, const ParseRequest& request, CommandResult& result);

private:
    Message& MessageFor(const FieldTable& table);
    std::vector<std::unique_ptr<Message>> m_messages;
};

/// Decodes many message texts with one table (which must outlive it), as ParseIso8583WithTable.
class TableDecoder {
public:
    explicit TableDecoder(const FieldTable& table);
    TableDecoder(const TableDecoder&) = delete;
    TableDecoder& operator=(const TableDecoder&) = delete;
    ~TableDecoder();

    /// The result is reset first and its capacity reused; rows carry the field titles.
    void Parse(std::string_view text, CommandResult& result, const ParseOptions& options = {});
    [[nodiscard]] const FieldTable& Table() const { return m_table; }

private:
    const FieldTable& m_table;
    IsoParser m_parser;
};

/// Sets the title of every row named after a field of table (the message type row, the bitmap
/// row, and "Bit N" rows by the table's row prefix); the titles point into the table.
void AttachTitles(FieldRowList& rows, const FieldTable& table);

