// The display row that every decoder produces, and the list of them.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

/// A whole row text of any length. Texts up to N-1 bytes live inline (no allocation: rows are
/// built for every field of every message); longer ones move to a string. A new text is not
/// zero-filled; only its first Size() bytes are ever read or copied.
template <std::size_t N>
class RowText {
public:
    RowText() {}  // NOLINT: deliberately leaves the inline bytes unwritten
    RowText(const RowText& o) { Assign(o.View()); }
    RowText& operator=(const RowText& o) {
        if (this != &o) Assign(o.View());
        return *this;
    }
    RowText(RowText&& o) noexcept { MoveFrom(o); }
    RowText& operator=(RowText&& o) noexcept {
        if (this != &o) MoveFrom(o);
        return *this;
    }

    [[nodiscard]] std::string_view View() const {
        return m_long ? std::string_view(m_overflow) : std::string_view(m_inline, m_size);
    }
    operator std::string_view() const { return View(); }  // NOLINT: reads as its text
    [[nodiscard]] std::size_t Size() const { return m_long ? m_overflow.size() : m_size; }

    /// Room for a text of exactly n bytes, to be written by the caller; the text's bytes.
    [[nodiscard]] char* Prepare(std::size_t n) {
        if (n < N) {
            m_long = false;
            m_size = static_cast<std::uint32_t>(n);
            m_inline[n] = '\0';
            return m_inline;
        }
        m_long = true;
        m_overflow.resize(n);
        return m_overflow.data();
    }
    /// Cuts the text to its first n bytes (n not above Size()).
    void Shrink(std::size_t n) {
        if (m_long) {
            m_overflow.resize(n);
        } else {
            m_size = static_cast<std::uint32_t>(n);
            m_inline[n] = '\0';
        }
    }
    void Assign(std::string_view text) {
        char* p = Prepare(text.size());
        if (!text.empty()) std::memcpy(p, text.data(), text.size());
    }

    friend bool operator==(const RowText& a, std::string_view b) { return a.View() == b; }

private:
    void MoveFrom(RowText& o) {
        if (o.m_long) {
            m_long = true;
            m_overflow = std::move(o.m_overflow);
        } else {
            Assign(o.View());
        }
    }

    std::uint32_t m_size = 0;
    bool m_long = false;
    char m_inline[N];
    std::string m_overflow;
};

/// One row of the field list: name, length and value texts, each whole whatever its length.
struct FieldRow {
    RowText<16> name;
    RowText<16> length;
    RowText<1024> value;
    /// The field's name from a loaded table (a tooltip, a JSON "title"); it points into the table,
    /// which outlives the rows. Empty for the built-in forms.
    std::string_view title;

    std::string_view Name() const { return name.View(); }
    std::string_view Length() const { return length.View(); }
    std::string_view Value() const { return value.View(); }
};

using FieldRowList = std::vector<FieldRow>;

/// Sets a row text to text, whole up to its first zero byte (a row text never holds one).
template <std::size_t N>
void SetRowText(RowText<N>& dst, std::string_view text) {
    if (const void* zero = text.empty() ? nullptr : std::memchr(text.data(), '\0', text.size())) {
        text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
    }
    dst.Assign(text);
}

/// Writes prefix and the decimal text of v ("%d"); rows are built often, so no printf.
template <std::size_t N>
void SetRowNumber(RowText<N>& dst, std::string_view prefix, std::int32_t v) {
    static_assert(N >= 16);
    char buf[32];
    const std::size_t p = prefix.size() < 16 ? prefix.size() : 16;
    std::memcpy(buf, prefix.data(), p);
    char* at = buf + p;
    if (v >= 0 && v < 1000) {  // every field number and nearly every length: no general path
        if (v >= 100) *at++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *at++ = static_cast<char>('0' + v / 10 % 10);
        *at++ = static_cast<char>('0' + v % 10);
    } else {
        at = std::to_chars(at, buf + sizeof buf, v).ptr;
    }
    dst.Assign(std::string_view(buf, static_cast<std::size_t>(at - buf)));
}
