// Code page 936 and UTF-8 texts to UTF-8 (and back for the dialog) on glibc iconv, plus JSON
// string escaping.
#include "codec/TextDecode.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

/// One iconv descriptor, opened on first use and closed when its thread ends.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    ~IconvHandle() {
        if (Valid()) iconv_close(m_cd);
    }
    [[nodiscard]] bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    /// Back to the initial shift state, so a previous failure cannot leak into the next text.
    void Reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

IconvHandle& GbkToUtf8Converter() {
    thread_local IconvHandle handle("UTF-8", "CP936");
    return handle;
}

IconvHandle& Utf8ToGbkConverter() {
    thread_local IconvHandle handle("CP936", "UTF-8");
    return handle;
}

std::size_t AsciiPrefix(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
    return i;
}

/// Length of the valid UTF-8 sequence at s[0..n), or 0 when it is not one.
std::size_t Utf8SequenceLength(const unsigned char* s, std::size_t n) {
    const unsigned char c = s[0];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;  // no overlong forms
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < len) return 0;
    if (s[1] < lo || s[1] > hi) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) return 0;
    }
    return len;
}

/// Converts bytes with cd into out; an undecodable sequence is replaced by `replacement` and
/// conversion goes on after `skip(at, left)` bytes. out grows by at most maxGrowth per input byte.
template <typename Skip>
void ConvertLossless(IconvHandle& cd, std::string& out, std::string_view bytes,
                     std::string_view replacement, std::size_t maxGrowth, Skip skip) {
    const std::size_t start = out.size();
    out.resize(start + bytes.size() * maxGrowth);
    char* in = const_cast<char*>(bytes.data());  // iconv's signature; it does not write the input
    std::size_t inLeft = bytes.size();
    char* dst = out.data() + start;
    std::size_t dstLeft = out.size() - start;
    cd.Reset();
    while (inLeft > 0) {
        if (iconv(cd.Get(), &in, &inLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
        const int error = errno;
        if (error == E2BIG) break;  // cannot happen with maxGrowth; stop rather than loop
        // EILSEQ: a sequence that does not decode; EINVAL: a sequence cut off at the end.
        for (char c : replacement) {
            if (dstLeft == 0) break;
            *dst++ = c;
            --dstLeft;
        }
        const std::size_t n =
            error == EINVAL ? inLeft : skip(reinterpret_cast<const unsigned char*>(in), inLeft);
        in += n;
        inLeft -= n;
        cd.Reset();
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

void AppendGbk(std::string& out, std::string_view bytes) {
    const std::size_t ascii = AsciiPrefix(bytes);
    out.append(bytes.data(), ascii);
    if (ascii == bytes.size()) return;
    bytes.remove_prefix(ascii);
    IconvHandle& cd = GbkToUtf8Converter();
    if (!cd.Valid()) {
        // No converter at all: keep ASCII, mark every other byte.
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80) {
                out += c;
            } else {
                out.append(kReplacement);
            }
        }
        return;
    }
    // An undefined pair of lead and non-ASCII trail byte is one unknown character; any other
    // byte that does not decode is skipped alone, so an ASCII character after a stray lead byte
    // is read again and kept.
    ConvertLossless(cd, out, bytes, kReplacement, 3, [](const unsigned char* s, std::size_t left) {
        const bool pair = left >= 2 && IsCp936Lead(s[0]) && s[1] >= 0x80 && s[1] <= 0xFE;
        return pair ? std::size_t{2} : std::size_t{1};
    });
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t len = Utf8SequenceLength(s + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

void AppendUtf8(std::string& out, std::string_view bytes, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8OrGbk && IsValidUtf8(bytes)) {
        out.append(bytes);
        return;
    }
    AppendGbk(out, bytes);
}

std::string ToUtf8(std::string_view bytes, TextEncoding encoding) {
    std::string s;
    AppendUtf8(s, bytes, encoding);
    return s;
}

void AppendJsonString(std::string& out, std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;  // start of the characters not yet copied
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(utf8.data() + run, i - run);
        run = i + 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            out.append(esc, sizeof esc);
        }
    }
    out.append(utf8.data() + run, utf8.size() - run);
    out += '"';
}

std::string Utf8ToGbk(std::string_view utf8) {
    std::string out;
    const std::size_t ascii = AsciiPrefix(utf8);
    out.append(utf8.data(), ascii);
    if (ascii == utf8.size()) return out;
    utf8.remove_prefix(ascii);
    IconvHandle& cd = Utf8ToGbkConverter();
    // A character CP936 lacks, or a byte that is not UTF-8, becomes one '?'.
    const auto skipCharacter = [](const unsigned char* s, std::size_t left) {
        const std::size_t len = Utf8SequenceLength(s, left);
        return len == 0 ? std::size_t{1} : len;
    };
    if (!cd.Valid()) {
        const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
        for (std::size_t i = 0; i < utf8.size(); i += skipCharacter(s + i, utf8.size() - i)) {
            out += s[i] < 0x80 ? static_cast<char>(s[i]) : '?';
        }
        return out;
    }
    // Every UTF-8 character (1..4 bytes) becomes at most 2 bytes of CP936 or one '?'.
    ConvertLossless(cd, out, utf8, "?", 2, skipCharacter);
    return out;
}
