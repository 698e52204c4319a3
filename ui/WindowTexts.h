// The window's Chinese: the core's English detail phrases (failure reasons, warnings, the
// simulated host's log, EMV explanations) in Chinese, and the sentence for each way a send's
// reply ended. The command line keeps the English; only the window shows these.
#pragma once

#include <QString>
#include <span>
#include <string_view>

#include "codec/FieldRow.h"
#include "codec/TextDecode.h"
#include "emv/TlvRows.h"
#include "iso/SendReport.h"

/// The Chinese form of one English detail line of the core. Known phrases are translated, also
/// when they are nested ("row 3 "Bit 5": field 5 ..."); numbers, names and quoted texts are kept.
/// A phrase this table does not know is shown as it is.
[[nodiscard]] QString ChineseDetail(std::string_view english);

/// The Chinese form of an EMV explanation ("; "-separated phrases such as TVR bits, "00 goods and
/// services", "result successful"); phrases without one stay as they are.
[[nodiscard]] QString ChineseEmvExplanation(std::string_view english);

/// Puts the EMV explanations and error reasons of the TLV sub-rows into Chinese, in place; the
/// hex, the tag and the Chinese name stay. The row texts are in encoding.
void TranslateTlvRows(FieldRowList& rows, std::span<const TlvRowNote> notes,
                      TextEncoding encoding);

/// One log word of the simulated host ("answered", "closed", "garbage", "unanswered") in Chinese.
[[nodiscard]] QString ChineseLogWord(std::string_view english);

/// What happened to a send whose reply is not complete, as a sentence naming the bytes sent, the
/// bytes received and, when its length said so, the bytes expected; timeoutMs: the wait for the
/// reply. Empty for a complete reply.
[[nodiscard]] QString ReplyEndSentence(const SendReport& report, int timeoutMs,
                                       std::string_view detail);
