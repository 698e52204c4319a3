// The table-driven engine shared by every message form.
#include "codec/Engine.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/Conversions.h"

namespace {

constexpr char kArrowText[] = " -> ";

}  // namespace

FieldAttr AttrOf(const FieldDef& d) {
    FieldAttr a;
    if (!d.Defined()) return a;
    a.fixed = d.fixed ? 1 : 0;
    a.maxLen = d.maxLen;
    a.lenBytes = d.fixed ? 0 : d.prefixBytes;
    a.format = d.enc == DataEnc::Bcd ? 'N' : d.enc == DataEnc::Ascii ? 'A' : 'B';
    a.lenFormat = d.prefixEnc == PrefixEnc::Bcd ? 'N' : d.prefixEnc == PrefixEnc::Ascii ? 'A' : 'B';
    a.inMac = d.inMac ? 1 : 0;
    return a;
}

bool SameAttr(const FieldAttr& a, const FieldAttr& b) {
    return a.fixed == b.fixed && a.maxLen == b.maxLen && a.lenBytes == b.lenBytes &&
           a.format == b.format && a.lenFormat == b.lenFormat && a.inMac == b.inMac;
}

namespace {

// Bitmap bytes on the wire for a table's full width.
std::int32_t FullBitmapBytes(const BitmapSpec& b) {
    const std::int32_t binary = b.secondary == SecondaryBitmap::Never ? 8 : b.bits / 8;
    return b.enc == BitmapEnc::Ascii ? 2 * binary : binary;
}

std::size_t StoredBytes(const FieldValue& v) {
    if (v.length <= 0) return 0;
    return std::min(static_cast<std::size_t>(v.length), v.data.size());
}

void Fail(const DecodeContext& ctx, std::int32_t field, std::int64_t offset, std::string reason) {
    if (ctx.failure == nullptr) return;
    ctx.failure->field = field;
    ctx.failure->offset = offset;
    ctx.failure->reason = std::move(reason);
}

std::string FieldText(std::int32_t f) { return "field " + std::to_string(f); }

// A length prefix that is not a decimal number: a lenient table reads its digits' values (with a
// warning naming them), any other refuses it.
[[gnu::cold]] bool ReportPrefix(const FieldTable& form, const DecodeContext& ctx, std::int32_t f,
                                std::int64_t offset, const FieldValue& v) {
    const std::size_t p = f < static_cast<std::int32_t>(form.fields.size())
                              ? static_cast<std::size_t>(std::max(form.fields[f].prefixBytes, 0))
                              : 0;
    char hex[17] = {};
    BytesToHex(v.data.data(), std::min<std::size_t>({p, 8, v.data.size()}), hex);
    std::string what = FieldText(f) + "'s length prefix " + hex + " is not a decimal number";
    if (form.lenientPrefixes) {
        if (ctx.warnings != nullptr) ctx.warnings->push_back(what + "; read by its digits' values");
        return true;
    }
    Fail(ctx, f, offset, std::move(what));
    return false;
}

// A stated length above the maximum, by the field's rule: refused (false), or read cut to the
// maximum or whole (true), with a warning. A strict table refuses it whatever the field says.
[[gnu::cold]] bool ReportOverlong(const FieldTable& form, const DecodeContext& ctx, std::int32_t f,
                                  std::int64_t offset, std::int32_t stated, std::int32_t maxLen,
                                  OverLength rule) {
    std::string what = FieldText(f) + " states length " + std::to_string(stated) +
                       ", above its maximum " + std::to_string(maxLen);
    if (form.strict || rule == OverLength::Refuse) {
        Fail(ctx, f, offset, std::move(what));
        return false;
    }
    if (ctx.warnings != nullptr) {
        ctx.warnings->push_back(what + (rule == OverLength::Whole ? "; read whole"
                                                                  : "; read as the maximum"));
    }
    return true;
}

// Writes v as `width` ASCII digits, zero-padded; a longer number keeps its first digits.
void WriteDigits(std::uint8_t* out, std::size_t width, std::int64_t v) {
    char digits[24];
    const auto res = std::to_chars(digits, digits + sizeof digits, v);
    const auto n = static_cast<std::size_t>(res.ptr - digits);
    std::memset(out, '0', width);
    if (n >= width) {
        std::memcpy(out, digits, width);
    } else {
        std::memcpy(out + (width - n), digits, n);
    }
}

#if defined(__SSE2__)
// The hex characters of the bytes in b's low half (8 bytes), or of all 16: hi and lo digits
// interleaved, the first byte's first.
struct HexPair {
    __m128i first, second;
};
inline HexPair HexOf(__m128i b) {
    const __m128i low = _mm_set1_epi8(0x0F);
    const auto digits = [](__m128i nibbles) {
        const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)),
                                              _mm_set1_epi8('A' - '0' - 10));
        return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
    };
    const __m128i hi = digits(_mm_and_si128(_mm_srli_epi16(b, 4), low));
    const __m128i lo = digits(_mm_and_si128(b, low));
    return {_mm_unpacklo_epi8(hi, lo), _mm_unpackhi_epi8(hi, lo)};
}
// The hex of in[0..8) into out[0..16).
inline void Hex8(const std::uint8_t* in, char* out) {
    const HexPair h = HexOf(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), h.first);
}
// The hex of in[0..4) into out[0..8).
inline void Hex4(const std::uint8_t* in, char* out) {
    std::int32_t four;
    std::memcpy(&four, in, 4);
    const HexPair h = HexOf(_mm_cvtsi32_si128(four));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), h.first);
}
#endif

// Writes the 2n upper-case hex characters of n bytes, no terminator. Rows show every byte of
// every message this way, so blocks of bytes are turned at once where the machine can; a last
// short block is turned again from the block that ends where the bytes end (its characters
// overlap those already written, with the same values), reading and writing nothing outside.
inline void WriteHex(const std::uint8_t* in, std::size_t n, char* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 8) {
        for (; i + 16 <= n; i += 16) {
            const HexPair h = HexOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), h.first);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), h.second);
        }
        if (i + 8 <= n) {
            Hex8(in + i, out + 2 * i);
            i += 8;
        }
        if (i < n) Hex8(in + n - 8, out + 2 * (n - 8));
        return;
    }
    if (n >= 4) {
        Hex4(in, out);
        Hex4(in + n - 4, out + 2 * (n - 4));
        return;
    }
#endif
    for (; i < n; ++i) std::memcpy(out + 2 * i, conversions_detail::kHexPairs[in[i]].data(), 2);
}

// SetHexValue's work, inline where every field's row is written.
[[gnu::always_inline]] inline void HexValue(FieldRow& row, const std::uint8_t* bytes,
                                            std::size_t n, const std::uint8_t* text,
                                            std::size_t textLen) {
    if (text == nullptr) {
        WriteHex(bytes, n, row.value.Prepare(2 * n));  // Prepare wrote the terminator
        return;
    }
    constexpr std::size_t arrow = sizeof kArrowText - 1;
    char* out = row.value.Prepare(2 * n + arrow + textLen);
    WriteHex(bytes, n, out);
    std::memcpy(out + 2 * n, kArrowText, arrow);
    out += 2 * n + arrow;
    // The text as it stands; a reader of the row stops at a zero byte in it. Short texts in
    // 8-byte steps, the last one ending at the text's end (it may overlap the one before):
    // cheaper than a general block copy for most field texts.
    if (textLen >= 8) {
        std::size_t i = 0;
        for (; i + 8 <= textLen; i += 8) std::memcpy(out + i, text + i, 8);
        if (i < textLen) std::memcpy(out + textLen - 8, text + textLen - 8, 8);
    } else if (textLen >= 4) {
        std::memcpy(out, text, 4);
        std::memcpy(out + textLen - 4, text + textLen - 4, 4);
    } else {
        for (std::size_t i = 0; i < textLen; ++i) out[i] = static_cast<char>(text[i]);
    }
}

// A row of n bytes as hex and, when withText, " -> " and the bytes as text; see SetHexValue.
FieldRow& HexRow(RowAppender& rows, std::string_view name, std::string_view length,
                 const std::uint8_t* bytes, std::size_t n, bool withText) {
    FieldRow& row = rows.Next();
    row.name.Assign(name);
    row.length.Assign(length);
    HexValue(row, bytes, n, withText ? bytes : nullptr, withText ? n : 0);
    return row;
}
FieldRow& HexRow(RowAppender& rows, std::string_view name, std::int32_t length,
                 const std::uint8_t* bytes, std::size_t n, bool withText) {
    FieldRow& row = rows.Next();
    row.name.Assign(name);
    SetRowNumber(row.length, length);
    HexValue(row, bytes, n, withText ? bytes : nullptr, withText ? n : 0);
    return row;
}

}  // namespace

void SetHexValue(FieldRow& row, const std::uint8_t* bytes, std::size_t n,
                     const std::uint8_t* text, std::size_t textLen) {
    HexValue(row, bytes, n, text, textLen);
}

std::vector<FieldAttr> AttrsOf(const FieldTable& table) {
    std::vector<FieldAttr> attrs(static_cast<std::size_t>(std::clamp(table.bitmap.bits, 0, 128)) +
                                 1);
    for (std::size_t f = 0; f < attrs.size() && f < table.fields.size(); ++f) {
        attrs[f] = AttrOf(table.fields[f]);
    }
    return attrs;
}

namespace {

FieldAttrCache::Records MakeRecords(const FieldTable& table) {
    FieldRecords r = MakeFieldRecords(AttrsOf(table));
    // The type and bitmap rows show a fixed number of bytes, and a field whose MAC input takes a
    // fixed number of bytes takes them whatever it stores.
    for (std::size_t f = 0; f < r.readPast.size(); ++f) {
        r.readPast[f] = f < 2 || (f < table.fields.size() && table.fields[f].macBytes > 0);
    }
    r.maxFramed = MaxFramedSize(table, r.attrs);
    return std::make_shared<const FieldRecords>(std::move(r));
}

}  // namespace

FieldAttrCache::Records SharedAttrsOf(const FieldTable& table) {
    if (const FieldAttrCache::Records& sealed = table.attrs.Get()) return sealed;
    return MakeRecords(table);
}

void SealFieldAttrs(FieldTable& table) { table.attrs.Set(MakeRecords(table)); }

std::int32_t BitmapToList(std::int32_t bits, const std::uint8_t* bitmap, std::uint8_t* list) {
    bits = std::clamp(bits, 0, 128);
    std::memset(list, 0, static_cast<std::size_t>(bits));
    std::int32_t count = 0;
    for (std::int32_t j = 0; j < bits / 8; ++j) {
        // Set bits from the most significant down, found directly rather than tried one by one.
        for (auto b = static_cast<std::uint8_t>(bitmap[j]); b != 0;) {
            const int k = std::countl_zero(b);
            list[count++] = static_cast<std::uint8_t>(j * 8 + k + 1);
            b = static_cast<std::uint8_t>(b & ~(0x80u >> k));
        }
    }
    return count;
}

void ListToBitmap(const std::uint8_t* list, std::uint8_t* bitmap, std::int32_t bits,
                  std::int32_t lowest) {
    std::memset(bitmap, 0, static_cast<std::size_t>(bits / 8));
    for (std::int32_t i = 0; i < bits && list[i] != 0; ++i) {
        const std::int32_t n = list[i];
        if (n < lowest || n > bits) continue;
        bitmap[(n - 1) / 8] |= static_cast<std::uint8_t>(0x80 >> ((n - 1) % 8));
    }
}

std::int32_t UnpackBody(const FieldTable& form, FieldSet s, const std::uint8_t* data,
                        std::int32_t len, std::size_t readable, std::int64_t base,
                        const DecodeContext& ctx) {
    if (data == nullptr || s.attr.size() < 2 || s.value.size() < s.attr.size() ||
        s.fieldList.size() < s.attr.size()) {
        return -1;
    }
    const auto rest = [&](std::int64_t off) {
        return off >= static_cast<std::int64_t>(readable)
                   ? std::size_t{0}
                   : readable - static_cast<std::size_t>(off);
    };
    // A field may start past the readable bytes (it then reads zeros): point at their end instead
    // of forming a pointer outside the caller's buffer.
    const auto at = [&](std::int64_t off) {
        return data + std::min(static_cast<std::size_t>(off), readable);
    };
    // Takes field f at off: its bytes, or -1 when the table does not define it, or -2 when a
    // strict table refuses its stated length.
    const auto take = [&](std::int32_t f, std::int64_t off) -> std::int32_t {
        const auto i = static_cast<std::size_t>(f);
        std::int32_t stated = 0;
        bool digits = true;
        const std::int32_t r = UnpackFieldValue(s.attr[i], s.value[i], s.arena, at(off),
                                                rest(off), &stated, &digits);
        if (!digits && r >= 0 && !ReportPrefix(form, ctx, f, base + off, s.value[i])) {
            s.value[i].length = 0;
            return -2;
        }
        // Only a variable field states a length; a fixed one leaves stated at 0.
        if (stated > s.attr[i].maxLen && r >= 0) {
            const OverLength rule =
                i < form.fields.size() ? form.fields[i].overLength : OverLength::Cut;
            if (!ReportOverlong(form, ctx, f, base + off, stated, s.attr[i].maxLen, rule)) {
                s.value[i].length = 0;  // refused: not among the fields decoded before the failure
                return -2;
            }
            if (rule == OverLength::Whole) {
                // Read again as a field whose maximum is what it states (its prefix bounds it);
                // the buffer grows to hold it.
                FieldAttr whole = s.attr[i];
                whole.maxLen = stated;
                return UnpackFieldValue(whole, s.value[i], s.arena, at(off), rest(off));
            }
        }
        return r;
    };

    std::int64_t off = take(0, 0);
    if (off < 0) {
        if (off == -1) Fail(ctx, 0, base, "field 0 (message type) is not defined");
        return -1;
    }

    // The bitmap: its full width, or with the secondary half only when bit 1 says so.
    FieldAttr bitmapAttr = s.attr[1];
    if (form.bitmap.secondary == SecondaryBitmap::Bit1 && bitmapAttr.maxLen > 0) {
        const std::int32_t half = form.bitmap.enc == BitmapEnc::Ascii ? 16 : 8;
        std::uint8_t first = 0;
        if (rest(off) > 0) first = *at(off);
        if (form.bitmap.enc == BitmapEnc::Ascii) {
            const char digit = static_cast<char>(first);
            HexToBytes(&digit, 1, &first);  // the first hex digit's value in the high nibble
        }
        const bool secondary = (first & 0x80) != 0;
        bitmapAttr.fixed = 1;
        bitmapAttr.maxLen = std::min(bitmapAttr.maxLen, secondary ? 2 * half : half);
    }
    const std::int32_t rb = bitmapAttr.maxLen > 0
                                ? UnpackFieldValue(bitmapAttr, s.value[1], s.arena, at(off),
                                                   rest(off))
                                : -1;
    if (rb < 0) {
        Fail(ctx, 1, base + off, "field 1 (bitmap) is not defined");
        return -1;
    }
    off += rb;

    std::uint8_t bitmap[16] = {};
    std::int32_t bits = std::min<std::int32_t>(form.bitmap.bits, 128);
    if (form.bitmap.enc == BitmapEnc::Ascii) {
        const std::size_t chars = std::min<std::size_t>(32, StoredBytes(s.value[1]));
        for (std::size_t i = 0; i < chars; ++i) {
            const auto c = static_cast<char>(s.value[1].data[i]);
            if (!IsHexDigitChar(c)) {
                char shown[8];
                const auto u = static_cast<unsigned char>(c);
                if (u >= 0x21 && u < 0x7F) {
                    shown[0] = '\'';
                    shown[1] = c;
                    shown[2] = '\'';
                    shown[3] = 0;
                } else {
                    shown[0] = '0';
                    shown[1] = 'x';
                    BytesToHex(&u, 1, shown + 2);
                    shown[4] = 0;
                }
                Fail(ctx, 1, base + off - rb + static_cast<std::int64_t>(i),
                     std::string("the bitmap holds ") + shown + " at character " +
                         std::to_string(i + 1) + ", not a hex digit");
                s.value[1].length = 0;
                return -1;
            }
        }
        HexToBytes(reinterpret_cast<const char*>(s.value[1].data.data()), chars, bitmap);
        bits = std::min<std::int32_t>(bits, static_cast<std::int32_t>(chars / 2) * 8);
    } else {
        const std::size_t n = std::min<std::size_t>(16, s.value[1].data.size());
        std::memcpy(bitmap, s.value[1].data.data(), n);
        if (form.bitmap.secondary == SecondaryBitmap::Bit1) {
            bits = std::min<std::int32_t>(bits, rb * 8);
        }
    }
    if (form.bitmap.secondary == SecondaryBitmap::Never) bits = std::min(bits, 64);
    bits = std::min<std::int32_t>(bits, static_cast<std::int32_t>(s.attr.size()) - 1) / 8 * 8;

    const std::int32_t count = BitmapToList(bits, bitmap, s.fieldList.data());
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t e = s.fieldList[static_cast<std::size_t>(i)];
        // Entry 1 is the secondary bitmap, already part of the bitmap bytes.
        if (e < 2) continue;
        if (off > len) {
            Fail(ctx, e, base + off,
                 FieldText(e) + " would start at byte " + std::to_string(base + off) +
                     ", past the end of the " + std::to_string(ctx.whole) + "-byte message");
            return -1;
        }
        const FieldAttr& a = s.attr[e];
        std::int32_t r = 0;
        if (a.fixed == 1) {
            // Most fields: nothing stated, nothing to report.
            r = UnpackFieldValue(a, s.value[e], s.arena, at(off), rest(off));
        } else {
            r = take(e, off);
        }
        if (r == -1) {
            Fail(ctx, e, base + off, FieldText(e) + " is marked in the bitmap but not defined");
            return -1;
        }
        if (r < 0) return -1;
        off += r;
    }
    return static_cast<std::int32_t>(off);
}

std::int64_t ReadLengthPart(const FramePart& part, const std::uint8_t* data, std::size_t readable,
                            bool* digits) {
    const std::size_t n = static_cast<std::size_t>(std::clamp(part.bytes, 0, 8));
    std::uint8_t b[8] = {};
    std::memcpy(b, data, std::min(n, readable));
    switch (part.lengthEnc) {
        case LengthEnc::Ascii:
            if (digits != nullptr) {
                for (std::size_t i = 0; i < n; ++i) {
                    if (!IsDecimalDigit(static_cast<char>(b[i]))) *digits = false;
                }
            }
            return DecimalTextToInt(reinterpret_cast<const char*>(b), n);
        case LengthEnc::Bcd: {
            std::int64_t v = 0;
            for (std::size_t i = 0; i < n; ++i) {
                if ((b[i] >> 4) > 9 || (b[i] & 0x0F) > 9) {
                    if (digits != nullptr) *digits = false;
                }
                v = v * 100 + (b[i] >> 4) * 10 + (b[i] & 0x0F);
            }
            return v;
        }
        case LengthEnc::Binary:
            break;
    }
    // Unsigned, so that 8 length bytes cannot overflow; no message is that long anyway.
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        v = v * 256 + b[part.littleEndian ? n - 1 - i : i];
    }
    return static_cast<std::int64_t>(std::min<std::uint64_t>(v, INT64_MAX));
}

std::int64_t FrameTotal(const FramePart& part, std::int64_t offset, std::int64_t value) {
    // A length of 8 bytes may state more than any sum can hold: such a total stays at the top.
    const std::int64_t before = part.countsItself ? offset : offset + std::max(part.bytes, 0);
    return value > INT64_MAX - before ? INT64_MAX : before + value;
}

std::string LengthPartText(const FramePart& part, const std::uint8_t* bytes, std::size_t n) {
    n = std::min<std::size_t>(n, 8);
    char hex[17] = {};
    BytesToHex(bytes, n, hex);
    if (part.lengthEnc == LengthEnc::Binary) return std::string("0x") + hex;
    if (part.lengthEnc == LengthEnc::Bcd) return hex;
    std::string text = "\"";
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<char>(bytes[i]);
        text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? c : '?';
    }
    return text + "\" (" + hex + ")";
}

namespace {

// The XOR of a frame's first `end` bytes from the check part's start.
std::uint8_t XorCheck(const FramePart& check, const std::uint8_t* frame, std::size_t end) {
    std::uint8_t x = 0;
    for (std::size_t i = static_cast<std::size_t>(std::max(check.checkFrom, 0)); i < end; ++i) {
        x ^= frame[i];
    }
    return x;
}

std::int32_t TrailerBytes(const FieldTable& form) {
    std::int32_t n = 0;
    for (const FramePart& p : form.trailer) n += std::max(p.bytes, 0);
    return n;
}

// The trailer's markers and check byte at data[end..]: a marker that differs is an error; a check
// byte that differs a warning (an error for a strict table).
bool CheckTrailer(const FieldTable& form, const std::uint8_t* data, std::size_t readable,
                  std::size_t end, const DecodeContext& ctx) {
    const auto byteAt = [&](std::size_t i) -> std::uint8_t { return i < readable ? data[i] : 0; };
    std::size_t pos = end;
    for (const FramePart& part : form.trailer) {
        const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
        if (part.kind == FramePartKind::Check) {
            const std::uint8_t x = XorCheck(part, data, std::min(pos, readable));
            if (byteAt(pos) != x) {
                char got[3], want[3];
                const std::uint8_t g = byteAt(pos);
                BytesToHex(&g, 1, got);
                BytesToHex(&x, 1, want);
                got[2] = want[2] = 0;
                std::string what = "check byte " + std::string(got) + " at byte " +
                                   std::to_string(pos) + ", the bytes before it give " + want;
                if (form.strict) {
                    Fail(ctx, -1, static_cast<std::int64_t>(pos), std::move(what));
                    return false;
                }
                if (ctx.warnings != nullptr) ctx.warnings->push_back(std::move(what));
            }
        } else {
            for (std::size_t i = 0; i < width; ++i) {
                const std::uint8_t want = i < part.packDefault.size() ? part.packDefault[i] : 0;
                if (byteAt(pos + i) != want) {
                    Fail(ctx, -1, static_cast<std::int64_t>(pos + i),
                         "the frame's closing \"" + part.name + "\" is missing at byte " +
                             std::to_string(pos + i));
                    return false;
                }
            }
        }
        pos += width;
    }
    return true;
}

}  // namespace

std::int32_t UnpackFramed(const FieldTable& form, FieldSet s, const std::uint8_t* data,
                          std::int32_t len, std::size_t readable, LengthRule lengthRule,
                          FrameFound& found, const DecodeContext& ctx) {
    found = FrameFound{};
    if (data == nullptr) return -1;
    if (len < form.minMessageBytes) {
        Fail(ctx, -1, 0,
             "message of " + std::to_string(len) + " bytes is shorter than " +
                 std::to_string(form.minMessageBytes) + " bytes");
        return -1;
    }
    const auto byteAt = [&](std::size_t i) -> std::uint8_t { return i < readable ? data[i] : 0; };
    std::size_t pos = 0;
    bool previous = true;
    std::int64_t cutStated = 0;
    for (std::size_t i = 0; i < form.frame.size() && i < kMaxFrameParts; ++i) {
        const FramePart& part = form.frame[i];
        const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
        bool present = true;
        switch (part.presence) {
            case Presence::Always:
                break;
            case Presence::WithPrevious:
                present = previous;
                break;
            case Presence::Detect:
                for (const ByteTest& t : part.detect) {
                    const std::size_t at = pos + static_cast<std::size_t>(std::max(t.offset, 0));
                    if ((byteAt(at) & t.mask) != t.value) present = false;
                }
                break;
            case Presence::LengthMatch:
                break;
        }
        if (part.kind == FramePartKind::Marker && part.presence == Presence::Always) {
            for (std::size_t k = 0; k < width; ++k) {
                const std::uint8_t want = k < part.packDefault.size() ? part.packDefault[k] : 0;
                if (byteAt(pos + k) != want) {
                    Fail(ctx, -1, static_cast<std::int64_t>(pos + k),
                         "the frame's \"" + part.name + "\" is missing at byte " +
                             std::to_string(pos + k));
                    return -1;
                }
            }
        }
        if (part.kind == FramePartKind::Length) {
            if (lengthRule == LengthRule::Match) {
                bool digits = true;
                const std::uint8_t* at = data + std::min(pos, readable);
                const std::size_t have = readable > pos ? readable - pos : 0;
                const std::int64_t stated = ReadLengthPart(part, at, have, &digits);
                const std::int64_t total =
                    FrameTotal(part, static_cast<std::int64_t>(pos), stated);
                present = digits && total == len;
                if (!present && digits && form.allowShorterLength &&
                    total > static_cast<std::int64_t>(pos + width) && total < len) {
                    present = true;
                    found.cutTo = total;
                    cutStated = stated;
                }
                if (!present && part.presence != Presence::LengthMatch) {
                    std::uint8_t b[8] = {};
                    std::memcpy(b, at, std::min({width, have, std::size_t{8}}));
                    const std::int64_t follow =
                        part.countsItself ? len - static_cast<std::int64_t>(pos)
                                          : len - static_cast<std::int64_t>(pos + width);
                    Fail(ctx, -1, static_cast<std::int64_t>(pos),
                         digits ? "length " + LengthPartText(part, b, width) + " states " +
                                      std::to_string(stated) + " bytes, " +
                                      std::to_string(std::max<std::int64_t>(follow, 0)) +
                                      " follow"
                                : "length " + LengthPartText(part, b, width) +
                                      " is not a number");
                    return -1;
                }
            } else {
                present = lengthRule == LengthRule::Present;
            }
        }
        found.present[i] = present;
        found.offset[i] = static_cast<std::int32_t>(pos);
        previous = present;
        if (!present) continue;
        if (!form.lenientPrefixes && static_cast<std::int64_t>(pos + width) > len) {
            Fail(ctx, -1, static_cast<std::int64_t>(pos),
                 "the message ends inside its " +
                     (part.name.empty() ? std::string("framing") : "\"" + part.name + "\"") +
                     ": " + std::to_string(std::max<std::int64_t>(len - static_cast<std::int64_t>(pos), 0)) +
                     " of its " + std::to_string(width) + " bytes are there");
            return -1;
        }
        pos += width;
    }
    found.body = static_cast<std::int32_t>(pos);
    if (found.cutTo >= 0) {
        if (ctx.warnings != nullptr) {
            ctx.warnings->push_back("the message's length states " +
                                    std::to_string(cutStated) +
                                    " bytes; the " + std::to_string(len - found.cutTo) +
                                    " bytes after them are not decoded");
        }
        len = static_cast<std::int32_t>(found.cutTo);
        readable = std::min(readable, static_cast<std::size_t>(found.cutTo));
    }
    if (form.strict && static_cast<std::int64_t>(pos) > len) {
        Fail(ctx, -1, 0,
             "message of " + std::to_string(len) + " bytes is shorter than its framing of " +
                 std::to_string(pos) + " bytes");
        return -1;
    }
    // The trailer stands at the message's end; the body ends in front of it.
    const std::int32_t trailer = TrailerBytes(form);
    if (trailer > 0) {
        const std::int64_t end = static_cast<std::int64_t>(len) - trailer;
        if (end < static_cast<std::int64_t>(pos)) {
            Fail(ctx, -1, len, "the message of " + std::to_string(len) +
                                   " bytes is too short for its framing");
            return -1;
        }
        if (!CheckTrailer(form, data, readable, static_cast<std::size_t>(end), ctx)) return -1;
        len = static_cast<std::int32_t>(end);
        readable = std::min(readable, static_cast<std::size_t>(end));
    }
    const std::uint8_t* body = data + std::min(pos, readable);
    const std::size_t rest = readable > pos ? readable - pos : 0;
    const std::int32_t r = UnpackBody(form, s, body, len - static_cast<std::int32_t>(pos), rest,
                                      static_cast<std::int64_t>(pos), ctx);
    if (r <= 0) return -1;
    // Bytes consumed: up to the body's end, then the trailer, when the body kept within it.
    const std::int64_t used = static_cast<std::int64_t>(pos) + r;
    return static_cast<std::int32_t>(used <= len ? used + trailer : used);
}

std::int32_t PackBody(const FieldTable& form, FieldSet s, std::uint8_t* out,
                      std::int32_t* outLen) {
    if (out == nullptr) return 0;
    if (s.attr.size() < 2 || s.value.size() < s.attr.size() || s.fieldList.size() < s.attr.size()) {
        return -1;
    }
    const FieldValue& type = s.value[0];
    if (type.length >= 1024) return -1;
    // Every copy is cut to what the field's record allows now, so that MaxBodySize holds even
    // for values stored under a record that was changed since.
    const auto room = [&](std::size_t f) {
        return std::min(StoredBytes(s.value[f]),
                        static_cast<std::size_t>(std::max(MaxEncodedSize(s.attr[f]), 0)));
    };
    std::size_t pos = room(0);
    if (pos > 0) std::memcpy(out, type.data.data(), pos);

    const std::int32_t bits =
        std::min<std::int32_t>(form.bitmap.bits, static_cast<std::int32_t>(s.attr.size()) - 1);
    const std::size_t last = static_cast<std::size_t>(bits);
    std::fill(s.fieldList.begin(), s.fieldList.end(), std::uint8_t{0});
    std::size_t k = 0;
    bool high = false;  // a field above 64 is present
    for (std::size_t f = 2; f <= last; ++f) {
        if (s.value[f].length > 0) {
            s.fieldList[k++] = static_cast<std::uint8_t>(f);
            high |= f > 64;
        }
    }
    std::int32_t wireBits = form.bitmap.secondary == SecondaryBitmap::Never ? 64 : bits;
    if (form.bitmap.secondary == SecondaryBitmap::Bit1) wireBits = high ? 128 : 64;
    const bool bit1 = (form.packSetsBit1 && s.value[1].length > 0) ||
                      (form.bitmap.secondary == SecondaryBitmap::Bit1 && high);
    if (bit1) {
        std::memmove(s.fieldList.data() + 1, s.fieldList.data(), k);
        s.fieldList[0] = 1;
        ++k;
    }
    std::uint8_t bitmap[16];
    ListToBitmap(s.fieldList.data(), bitmap, wireBits, 1);
    std::size_t bitmapBytes = static_cast<std::size_t>(wireBits / 8);
    if (form.bitmap.enc == BitmapEnc::Ascii) {
        char hex[33];
        BytesToHex(bitmap, bitmapBytes, hex);
        bitmapBytes *= 2;
        std::memcpy(out + pos, hex, bitmapBytes);
        pos += bitmapBytes;
    } else {
        std::memcpy(out + pos, bitmap, bitmapBytes);
        if (form.bitmap.secondary == SecondaryBitmap::Bit1) {
            pos += bitmapBytes;
        } else {
            // The stored length of field 1 says how many bitmap bytes the message carries.
            pos += std::min(static_cast<std::size_t>(std::max(s.value[1].length, 0)),
                            static_cast<std::size_t>(FullBitmapBytes(form.bitmap) +
                                                     std::max(MaxEncodedSize(s.attr[1]), 0)));
        }
    }

    for (std::size_t i = 0; i < k; ++i) {
        const std::size_t f = s.fieldList[i];
        if (f < 2 || f > static_cast<std::size_t>(form.packLastField)) continue;
        const FieldValue& v = s.value[f];
        if (form.packMaxStored > 0 && v.length >= form.packMaxStored) continue;
        const std::size_t n = room(f);
        if (n > 0) std::memcpy(out + pos, v.data.data(), n);
        pos += n;
    }
    if (outLen != nullptr) *outLen = static_cast<std::int32_t>(pos);
    return static_cast<std::int32_t>(pos);
}

std::int32_t MaxBodySize(const FieldTable& form, std::span<const FieldAttr> attr) {
    // The bitmap, whatever the table says of field 1.
    std::int32_t total = FullBitmapBytes(form.bitmap);
    for (const FieldAttr& a : attr) total += MaxEncodedSize(a);
    return total;
}

std::int32_t BuildMacText(const FieldTable& form, FieldSet s, std::uint8_t* out) {
    std::size_t pos = 0;
    std::size_t taken = 0;
    const std::string_view sep = form.macSeparator;
    const std::size_t n = std::min(s.attr.size(), s.value.size());
    // The MAC field itself and everything after it take no part.
    const std::size_t end =
        form.macField > 0 ? std::min(n, static_cast<std::size_t>(form.macField)) : n;
    for (std::size_t i = 0; i < end; ++i) {
        const FieldValue& v = s.value[i];
        if (s.attr[i].inMac != 1 || v.length <= 0 || v.length >= 1024) continue;
        const std::int32_t limit =
            i < form.fields.size() ? form.fields[i].macBytes : 0;
        const std::size_t take = limit > 0 ? std::min<std::size_t>(static_cast<std::size_t>(limit),
                                                                    v.data.size())
                                           : StoredBytes(v);
        const std::size_t gap = taken > 0 ? sep.size() : 0;
        // Room for the separator, the text and the terminator.
        if (pos + gap + take + 1 > static_cast<std::size_t>(kMacInputScratch)) break;
        if (gap > 0) std::memcpy(out + pos, sep.data(), gap);
        pos += gap;
        if (take > 0) std::memcpy(out + pos, v.data.data(), take);
        pos += take;
        ++taken;
    }
    if (taken == 0) return 0;
    out[pos] = 0;
    return static_cast<std::int32_t>(pos);
}

void WriteLengthPart(const FramePart& part, std::uint8_t* out, std::int64_t value) {
    const auto width = static_cast<std::size_t>(std::clamp(part.bytes, 0, 8));
    switch (part.lengthEnc) {
        case LengthEnc::Ascii:
            WriteDigits(out, width, value);
            return;
        case LengthEnc::Bcd:
            for (std::size_t b = width; b-- > 0; value /= 100) {
                out[b] = static_cast<std::uint8_t>((value / 10 % 10) << 4 | value % 10);
            }
            return;
        case LengthEnc::Binary:
            break;
    }
    for (std::size_t b = 0; b < width; ++b) {
        const auto byte = static_cast<std::uint8_t>((value >> (8 * b)) & 0xFF);
        out[part.littleEndian ? b : width - 1 - b] = byte;
    }
}

std::size_t WriteTrailer(const FieldTable& form, std::uint8_t* frame, std::size_t end) {
    std::size_t pos = end;
    for (const FramePart& part : form.trailer) {
        const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
        if (part.kind == FramePartKind::Check) {
            const std::uint8_t x = XorCheck(part, frame, pos);
            std::memset(frame + pos, 0, width);
            if (width > 0) frame[pos] = x;
        } else {
            std::memset(frame + pos, 0, width);
            std::memcpy(frame + pos, part.packDefault.data(),
                        std::min(width, part.packDefault.size()));
        }
        pos += width;
    }
    return pos - end;
}

namespace {

// Whether PackFramed writes frame part i.
bool Written(const FramePart& part, std::size_t i, const PackChoices& choices) {
    if (choices.omit[i]) return false;
    return part.packed || (choices.withLength && part.kind == FramePartKind::Length);
}

}  // namespace

std::int32_t PackFramed(const FieldTable& form, FieldSet s, const FrameBytes& parts,
                        std::uint8_t* out, std::int32_t* outLen, const PackChoices& choices) {
    if (out == nullptr || outLen == nullptr) return 0;
    std::size_t framing = 0;
    for (std::size_t i = 0; i < form.frame.size() && i < kMaxFrameParts; ++i) {
        if (Written(form.frame[i], i, choices)) {
            framing += static_cast<std::size_t>(std::max(form.frame[i].bytes, 0));
        }
    }
    const auto trailer = static_cast<std::size_t>(TrailerBytes(form));
    std::int32_t bodyLen = 0;
    const std::int32_t body = PackBody(form, s, out + framing, &bodyLen);
    if (body < 1) return -1;
    std::size_t total = framing + static_cast<std::size_t>(body);

    const std::size_t mac = static_cast<std::size_t>(form.macField);
    const MacFill macFill = choices.macAsStored ? MacFill::Stored : form.macFill;
    if (form.macField > 0 && mac < s.value.size() && s.value[mac].length > 0) {
        if (macFill == MacFill::Zeros) {
            // Room for the MAC, left zero: no MAC is computed and the stored value is not copied.
            const auto room = static_cast<std::size_t>(std::max(s.attr[mac].maxLen, 0));
            std::memset(out + total, 0, room);
            total += room;
        } else if (macFill == MacFill::ZeroHex) {
            // The MAC input only checks that some field qualifies; no key or MAC algorithm is
            // applied, so the MAC text is the hex of four zero bytes.
            std::uint8_t scratch[kMacInputScratch] = {};
            if (BuildMacText(form, s, scratch) < 1) return -1;
            const std::uint8_t zero[4] = {};
            char text[8];
            Word32ToHex(zero, text);
            FieldValue& v = s.value[mac];
            std::memcpy(v.data.data(), text, std::min<std::size_t>(8, v.data.size()));
            std::memcpy(out + total, text, 8);
            total += 8;
        } else {
            const std::size_t n = std::min(
                StoredBytes(s.value[mac]),
                static_cast<std::size_t>(std::max(MaxEncodedSize(s.attr[mac]), 0)));
            if (n > 0) std::memcpy(out + total, s.value[mac].data.data(), n);
            total += n;
        }
    }

    // A header's total length counts the message without its Length part.
    std::size_t lengthBytes = 0;
    for (std::size_t i = 0; i < form.frame.size() && i < kMaxFrameParts; ++i) {
        if (form.frame[i].kind == FramePartKind::Length && Written(form.frame[i], i, choices)) {
            lengthBytes += static_cast<std::size_t>(std::max(form.frame[i].bytes, 0));
        }
    }
    std::size_t pos = 0;
    for (std::size_t i = 0; i < form.frame.size() && i < kMaxFrameParts; ++i) {
        const FramePart& part = form.frame[i];
        if (!Written(part, i, choices)) continue;
        const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
        std::uint8_t* p = out + pos;
        pos += width;
        if (part.kind == FramePartKind::Length) {
            // The count of the bytes after the length, or of the whole frame from the length on.
            const auto whole = static_cast<std::int64_t>(total + trailer);
            WriteLengthPart(part, p,
                            part.countsItself ? whole - static_cast<std::int64_t>(pos - width)
                                              : whole - static_cast<std::int64_t>(pos));
            continue;
        }
        const std::span<const std::uint8_t> given = parts[i];
        const std::span<const std::uint8_t> src =
            given.empty() ? std::span<const std::uint8_t>(part.packDefault) : given;
        std::memset(p, 0, width);
        std::memcpy(p, src.data(), std::min(width, src.size()));
        std::size_t m = 0;
        for (const HeaderMember& member : part.members) {
            const auto w = static_cast<std::size_t>(std::max(member.bytes, 0));
            if (m + w > width) break;
            if (member.fill == MemberFill::TotalLength) {
                WriteDigits(p + m, w, static_cast<std::int64_t>(total - lengthBytes));
            }
            m += w;
        }
    }
    total += WriteTrailer(form, out, total);
    *outLen = static_cast<std::int32_t>(total);
    return static_cast<std::int32_t>(total);
}

std::int32_t MaxFramedSize(const FieldTable& form, std::span<const FieldAttr> attr) {
    std::int32_t total = MaxBodySize(form, attr) + TrailerBytes(form);
    for (const FramePart& part : form.frame) {
        if (part.packed) total += std::max(part.bytes, 0);
    }
    const auto mac = static_cast<std::size_t>(form.macField);
    if (form.macField > 0 && mac < attr.size()) {
        if (form.macFill == MacFill::ZeroHex) total += 8;
        if (form.macFill == MacFill::Zeros) total += std::max(attr[mac].maxLen, 0);
        if (form.macFill == MacFill::Stored) total += MaxEncodedSize(attr[mac]);
    }
    return total;
}

void AppendFrameRows(RowAppender& rows, const FramePart& part, const std::uint8_t* bytes,
                     std::int32_t partIndex) {
    if (!part.showRow || part.kind == FramePartKind::Length ||
        part.kind == FramePartKind::Marker || part.kind == FramePartKind::Check) {
        return;
    }
    const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
    if (part.members.empty()) {
        HexRow(rows, part.name, part.bytes, bytes, width, false).part =
            static_cast<std::int8_t>(partIndex);
        return;
    }
    std::size_t m = 0;
    std::int8_t k = 0;
    for (const HeaderMember& member : part.members) {
        const auto w = static_cast<std::size_t>(std::max(member.bytes, 0));
        if (m + w > width) break;
        FieldRow& row = HexRow(rows, member.name, member.bytes, bytes + m, w, member.withText);
        row.part = static_cast<std::int8_t>(partIndex);
        row.member = k++;
        m += w;
    }
}

namespace {

// "Bit 0" .. "Bit 128", each in 8 zero-padded bytes: the row names of the built-in forms.
struct BitNames {
    char text[129][8];
    std::uint8_t size[129];
};
constexpr BitNames MakeBitNames() {
    BitNames t{};
    for (int f = 0; f <= 128; ++f) {
        std::size_t n = 0;
        for (const char c : {'B', 'i', 't', ' '}) t.text[f][n++] = c;
        if (f >= 100) t.text[f][n++] = static_cast<char>('0' + f / 100);
        if (f >= 10) t.text[f][n++] = static_cast<char>('0' + f / 10 % 10);
        t.text[f][n++] = static_cast<char>('0' + f % 10);
        t.size[f] = static_cast<std::uint8_t>(n);
    }
    return t;
}
constexpr BitNames kBitNames = MakeBitNames();

void AppendHeadRow(RowAppender& rows, const HeadRow& head, const FieldValue& v,
                   std::int16_t field) {
    // The shown bytes come from the buffer, zero where it is shorter; "as stored" takes the value.
    const std::size_t n = head.shownBytes > 0
                        ? std::min<std::size_t>(static_cast<std::size_t>(head.shownBytes), 32)
                        : std::min<std::size_t>(StoredBytes(v), 32);
    const std::uint8_t* shown = v.data.data();
    std::uint8_t tmp[32];
    if (v.data.size() < n || v.data.empty()) {  // a short buffer: its bytes, zeros after them
        std::memset(tmp, 0, sizeof tmp);
        if (!v.data.empty()) std::memcpy(tmp, v.data.data(), v.data.size());
        shown = tmp;
    }
    if (head.lengthText.empty()) {
        HexRow(rows, head.name, static_cast<std::int32_t>(n), shown, n, head.withText).field = field;
        return;
    }
    HexRow(rows, head.name, head.lengthText, shown, n, head.withText).field = field;
}

}  // namespace

void AppendBodyRows(RowAppender& rows, const FieldTable& form, std::span<const FieldAttr> attr,
                    std::span<const std::uint8_t> fieldList, std::span<const FieldValue> value) {
    if (value.size() < 2) return;
    AppendHeadRow(rows, form.typeRow, value[0], 0);
    AppendHeadRow(rows, form.bitmapRow, value[1], 1);
    static const FieldDef kNoDef;
    const std::size_t n = std::min(attr.size(), value.size());
    const bool bitNames = form.fieldRowPrefix == "Bit ";
    const std::size_t defined = form.fields.size();
    std::size_t i = 0;
    while (i < fieldList.size()) {
        // Runs of eight zero entries (most of a positional list) are passed over in one step.
        if (i + 8 <= fieldList.size()) {
            std::uint64_t eight;
            std::memcpy(&eight, fieldList.data() + i, 8);
            if (eight == 0) {
                i += 8;
                continue;
            }
        }
        const std::size_t end = std::min(i + 8, fieldList.size());
        for (; i < end; ++i) {
            const std::size_t e = fieldList[i];
            if (e < 2 || e >= n) continue;
            const FieldValue& v = value[e];
            if (v.length <= 0) continue;
            const FieldAttr& a = attr[e];
            const FieldDef& d = e < defined ? form.fields[e] : kNoDef;
            const std::uint8_t* s = v.data.data();
            const std::size_t stored = StoredBytes(v);
            const std::size_t p =
                a.fixed == 1 ? 0
                             : std::min(stored, static_cast<std::size_t>(std::max(a.lenBytes, 0)));
            FieldRow& row = rows.Next();
            row.field = static_cast<std::int16_t>(e);
            if (bitNames && e <= 128) {
                row.name.AssignPadded8(kBitNames.text[e], kBitNames.size[e]);
            } else {
                SetRowNumber(row.name, form.fieldRowPrefix, static_cast<std::int32_t>(e));
            }
            // The length counts the data bytes, without the prefix.
            SetRowNumber(row.length,
                         a.fixed == 1 ? v.length
                                      : v.length - std::min(std::max(a.lenBytes, 0), v.length));
            const std::uint8_t* hex = d.rowHex == RowHex::Data ? s + p : s;
            const std::size_t hexN = d.rowHex == RowHex::Data ? stored - p : stored;
            const std::uint8_t* text = nullptr;
            std::size_t textN = 0;
            switch (d.rowText) {
                case RowTextPart::None:
                    break;
                case RowTextPart::Data:
                    text = s + p;
                    textN = stored - p;
                    break;
                case RowTextPart::Stored:
                    text = s;
                    textN = stored;
                    break;
            }
            HexValue(row, hex, hexN, text, textN);
        }
    }
}

void AppendFrameRows(FieldRowList& rows, const FramePart& part, const std::uint8_t* bytes,
                     std::int32_t partIndex) {
    RowAppender out(rows);
    AppendFrameRows(out, part, bytes, partIndex);
}

void AppendBodyRows(FieldRowList& rows, const FieldTable& form, std::span<const FieldAttr> attr,
                    std::span<const std::uint8_t> fieldList, std::span<const FieldValue> value) {
    RowAppender out(rows);
    AppendBodyRows(out, form, attr, fieldList, value);
}
