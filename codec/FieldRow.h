// The display row that every decoder produces, and the list of them.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

/// A whole row text of any length. Texts up to N-1 bytes live inline (no allocation: rows are
/// built for every field of every message); longer ones move to a heap block. A new text is not
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

    /// The text: the stored bytes up to the first zero byte, if any (a row text ends at one; the
    /// writers store bytes as they are and the readers stop there, as a zero-terminated text
    /// would).
    [[nodiscard]] std::string_view View() const {
        const char* p = m_long ? m_heap.get() : m_inline;
        const void* zero = m_size == 0 ? nullptr : std::memchr(p, 0, m_size);
        return {p, zero == nullptr ? m_size : static_cast<std::size_t>(static_cast<const char*>(zero) - p)};
    }
    operator std::string_view() const { return View(); }  // NOLINT: reads as its text
    /// Bytes stored, a zero byte and what follows it included.
    [[nodiscard]] std::size_t Size() const { return m_size; }

    /// Room for a text of exactly n bytes (and a zero byte after them), to be written by the
    /// caller; the text's first byte.
    [[nodiscard]] char* Prepare(std::size_t n) {
        m_size = n;
        if (n < N) {
            m_long = false;
            m_inline[n] = '\0';
            return m_inline;
        }
        if (n + 1 > m_capacity) {
            m_heap = std::make_unique_for_overwrite<char[]>(n + 1);
            m_capacity = n + 1;
        }
        m_long = true;
        m_heap[n] = '\0';
        return m_heap.get();
    }
    /// Cuts the text to its first n bytes (n not above Size()).
    void Shrink(std::size_t n) {
        m_size = n;
        (m_long ? m_heap.get() : m_inline)[n] = '\0';
    }
    void Assign(std::string_view text) {
        const std::size_t n = text.size();
        const char* s = text.data();
        char* p = Prepare(n);
        // Names and lengths: two fixed-size copies that may overlap cost less than a byte loop
        // or a call of the general copy.
        if (n >= 8 && n <= 16) {
            std::memcpy(p, s, 8);
            std::memcpy(p + n - 8, s + n - 8, 8);
        } else if (n >= 4 && n < 8) {
            std::memcpy(p, s, 4);
            std::memcpy(p + n - 4, s + n - 4, 4);
        } else if (n < 4) {
            for (std::size_t i = 0; i < n; ++i) p[i] = s[i];
        } else {
            std::memcpy(p, s, n);
        }
    }
    /// Sets a text of n bytes (n below 8) from 8 bytes that hold it followed by zero bytes: one
    /// fixed-size copy, for the short names and numbers every row has.
    void AssignPadded8(const char* eight, std::size_t n) {
        static_assert(N > 8);
        std::memcpy(m_inline, eight, 8);
        m_inline[n] = '\0';
        m_size = n;
        m_long = false;
    }

    friend bool operator==(const RowText& a, std::string_view b) { return a.View() == b; }

private:
    void MoveFrom(RowText& o) {
        if (o.m_long) {
            m_heap = std::move(o.m_heap);
            m_capacity = o.m_capacity;
            m_size = o.m_size;
            m_long = true;
            o.m_capacity = 0;
            o.m_size = 0;
            o.m_long = false;
        } else {
            Assign(o.View());
        }
    }

    std::size_t m_size = 0;
    std::size_t m_capacity = 0;  // of m_heap
    std::unique_ptr<char[]> m_heap;
    bool m_long = false;
    char m_inline[N];
};

/// One row of the field list: name, length and value texts, each whole whatever its length.
struct FieldRow {
    FieldRow() {}  // NOLINT: user-provided, so that a new row is not zero-filled (1 KiB)
    RowText<16> name;
    RowText<16> length;
    RowText<1024> value;
    /// The field's name from a loaded table (a tooltip, a JSON "title"); it points into the table,
    /// which outlives the rows. Empty for the built-in forms.
    std::string_view title;
    /// What the row shows, so that no reader turns its name back into a number: field >= 0 a
    /// field (0 the message type, 1 the bitmap); part >= 0 a framing part (member >= 0: one of
    /// its members); parent >= 0 a sub-row of that field (a TLV tag). -1: not that kind.
    std::int16_t field = -1;
    std::int16_t parent = -1;
    std::int8_t part = -1;
    std::int8_t member = -1;
    /// The row is the summary of the message ("交易"), not a field.
    bool summary = false;
    /// The meaning of the row's value from the table's dictionary (the value text ends with
    /// ": " and it); points into the table. Empty: none.
    std::string_view meaning;
    /// A positional sub-row's path ("60.2.1"); points into the table. Empty: not one.
    std::string_view path;
    /// Whether the user changed the value since the decode that gave the row: 1 yes, 0 no, -1
    /// not known (rows read from text). A build uses it to tell a field row's edit from its
    /// sub-rows'.
    std::int8_t edited = -1;

    /// Forgets what the row showed before (a reused row), title included.
    void ClearKey() {
        title = meaning = path = {};
        summary = false;
        field = parent = -1;
        part = member = edited = -1;
    }
    std::string_view Name() const { return name.View(); }
    std::string_view Length() const { return length.View(); }
    std::string_view Value() const { return value.View(); }
};

using FieldRowList = std::vector<FieldRow>;

/// Appends rows to a list. Started at 0 on a list that holds an earlier result's rows, it
/// overwrites them in place (a row costs less to overwrite than to destroy and build again) and,
/// when it goes, leaves exactly the rows it appended. Every row it hands out is to be written
/// whole: name, length and value.
class RowAppender {
public:
    explicit RowAppender(FieldRowList& rows) : m_rows(rows), m_used(rows.size()) {}
    RowAppender(FieldRowList& rows, std::size_t from) : m_rows(rows), m_used(from) {}
    RowAppender(const RowAppender&) = delete;
    RowAppender& operator=(const RowAppender&) = delete;
    ~RowAppender() { Finish(); }
    /// Drops the rows past those appended; rows added to the list afterwards stay.
    void Finish() {
        if (m_used < m_rows.size()) {
            m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(m_used), m_rows.end());
        }
        m_used = SIZE_MAX;
    }
    FieldRow& Next() {
        if (m_used < m_rows.size()) {
            FieldRow& row = m_rows[m_used++];
            row.ClearKey();
            return row;
        }
        ++m_used;
        return m_rows.emplace_back();
    }

private:
    FieldRowList& m_rows;
    std::size_t m_used;
};

/// Sets a row text to text, whole (read up to its first zero byte, if any).
template <std::size_t N>
void SetRowText(RowText<N>& dst, std::string_view text) {
    dst.Assign(text);
}

namespace row_detail {
/// The decimal texts of 0..999, each in 8 zero-padded bytes.
struct SmallNumbers {
    char text[1000][8];
    std::uint8_t size[1000];
};
constexpr SmallNumbers MakeSmallNumbers() {
    SmallNumbers t{};
    for (int v = 0; v < 1000; ++v) {
        std::size_t n = 0;
        if (v >= 100) t.text[v][n++] = static_cast<char>('0' + v / 100);
        if (v >= 10) t.text[v][n++] = static_cast<char>('0' + v / 10 % 10);
        t.text[v][n++] = static_cast<char>('0' + v % 10);
        t.size[v] = static_cast<std::uint8_t>(n);
    }
    return t;
}
inline constexpr SmallNumbers kSmallNumbers = MakeSmallNumbers();
}  // namespace row_detail

/// Writes the decimal text of v ("%d").
template <std::size_t N>
void SetRowNumber(RowText<N>& dst, std::int32_t v) {
    if (v >= 0 && v < 1000) {  // every field number and nearly every length: one copy
        const auto i = static_cast<std::size_t>(v);
        dst.AssignPadded8(row_detail::kSmallNumbers.text[i], row_detail::kSmallNumbers.size[i]);
        return;
    }
    // Roomier than any int32 text needs, so that no copy length the compiler can imagine
    // reads past it.
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    dst.Assign(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
}

/// Writes prefix and the decimal text of v ("%d"); rows are built often, so no printf and no
/// copy through a scratch buffer.
template <std::size_t N>
void SetRowNumber(RowText<N>& dst, std::string_view prefix, std::int32_t v) {
    static_assert(N >= 16);
    if (prefix.size() + 12 > N) {
        std::string text(prefix);
        text += std::to_string(v);
        dst.Assign(text);
        return;
    }
    char* const start = dst.Prepare(N - 1);
    char* at = start;
    for (const char c : prefix) *at++ = c;
    if (v >= 0 && v < 1000) {  // every field number and nearly every length: no general path
        if (v >= 100) *at++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *at++ = static_cast<char>('0' + v / 10 % 10);
        *at++ = static_cast<char>('0' + v % 10);
    } else {
        at = std::to_chars(at, start + N - 1, v).ptr;
    }
    dst.Shrink(static_cast<std::size_t>(at - start));
}
