// The message edit's text and the bytes it stands for.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "codec/TextDecode.h"

/// How characters typed into the message edit become bytes. ASCII text (the usual hex) is one
/// byte per character in every case; other characters take the encoding of the text last put
/// there by a build command: UTF-8 when that text was UTF-8 (a JSON packet built from a UTF-8
/// file), else code page 936, the system's own.
enum class EditEncoding { Gbk, Utf8 };

/// The text to show for bytes read in encoding, and the encoding in which edits of it are stored.
[[nodiscard]] QString DecodeMessageText(std::string_view bytes, TextEncoding encoding,
                                        EditEncoding* editEncoding);

/// The bytes of an edited message text.
[[nodiscard]] std::string EncodeMessageText(const QString& text, EditEncoding encoding);
