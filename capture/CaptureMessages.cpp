// Messages out of captured TCP traffic.
#include "capture/CaptureMessages.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "capture/TcpReassembly.h"
#include "codec/Conversions.h"
#include "codec/FrameCut.h"

namespace {

/// A row value's text part ("… -> text"), or the value when it has none.
std::string_view TextPart(std::string_view value) {
    const std::size_t arrow = value.find(" -> ");
    return arrow == std::string_view::npos ? value : value.substr(arrow + 4);
}

/// What pairing and the header line need of a decoded message.
struct Keys {
    std::string type;
    std::string f11;
    std::string f39;
    std::string f41;
};

void ReadKeys(const FieldRowList& rows, Keys& keys) {
    keys = {};
    for (const FieldRow& row : rows) {
        if (row.parent >= 0) continue;
        switch (row.field) {
            case 0: keys.type = TextPart(row.Value()); break;
            case 11: keys.f11 = row.Value(); break;
            case 39: keys.f39 = TextPart(row.Value()); break;
            case 41: keys.f41 = row.Value(); break;
            default: break;
        }
    }
}

/// A message type whose third digit is odd answers a request (0210 answers 0200).
bool IsReplyType(std::string_view type) {
    return type.size() == 4 && type[2] >= '0' && type[2] <= '9' && (type[2] - '0') % 2 == 1;
}
bool IsRequestType(std::string_view type) {
    return type.size() == 4 && type[2] >= '0' && type[2] <= '9' && (type[2] - '0') % 2 == 0;
}

}  // namespace

/// A request that awaits its reply.
struct Awaiting {
    std::uint64_t index = 0;
    std::int64_t timeUs = 0;
    std::string f11;
    std::string f41;
};

/// One direction: its reassembly, the cutting of its bytes, and its requests awaiting replies.
class CaptureDirection final : public StreamSink {
public:
    CaptureDirection(CaptureAnalyzer& analyzer, CaptureConnection& connection, int side)
        : m_analyzer(analyzer), m_connection(connection), m_side(side) {}

    void OnBytes(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                 bool boundary) override;
    void OnGap(std::uint64_t offset, std::uint64_t bytes) override;
    /// The direction ends: a message begun and not ended is reported.
    void End();

    TcpReassembly assembly;
    std::deque<Awaiting> awaiting;

private:
    enum class State : std::uint8_t { Start, Framing, Search, Ignored };

    void Cut();
    bool CutOne(bool searching);
    [[nodiscard]] std::span<const std::uint8_t> Held() const {
        return std::span<const std::uint8_t>(m_buf).subspan(m_read);
    }
    void Consume(std::size_t n);
    void EmitMessage(std::span<const std::uint8_t> bytes, const CommandResult& result);
    void Report(CaptureItemKind kind, std::uint64_t offset, std::uint64_t gapBytes,
                std::string_view reason);

    CaptureAnalyzer& m_analyzer;
    CaptureConnection& m_connection;
    int m_side;
    State m_state = State::Start;
    bool m_reportedUnframeable = false;
    std::vector<std::uint8_t> m_buf;
    std::size_t m_read = 0;       // bytes of m_buf consumed
    std::uint64_t m_heldAt = 0;   // stream offset of m_buf[m_read]
    std::deque<std::uint64_t> m_boundaries;  // Search: segment starts to try
    Keys m_keys;
    std::string m_reason;
};

class CaptureConnection {
public:
    CaptureConnection(CaptureAnalyzer& analyzer, const Endpoint& a, const Endpoint& b,
                      bool accepted)
        : ends{a, b},
          accepted(accepted),
          dirs{std::make_unique<CaptureDirection>(analyzer, *this, 0),
               std::make_unique<CaptureDirection>(analyzer, *this, 1)} {}

    Endpoint ends[2];
    bool accepted;  // carries messages: its gaps and cutting failures are reported
    bool fin[2] = {false, false};
    std::unique_ptr<CaptureDirection> dirs[2];

    void Finish() {
        for (auto& d : dirs) {
            d->assembly.Finish(*d);
            d->End();
        }
    }
};

void CaptureDirection::OnBytes(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                               bool boundary) {
    if (m_state == State::Ignored) return;
    if (m_read == m_buf.size()) {
        m_buf.clear();
        m_read = 0;
        m_heldAt = offset;
    }
    if (!assembly.FromStart() && m_state == State::Start) {
        m_state = State::Search;  // picked up in the middle: no message start is known
    }
    if (m_state == State::Search && boundary) m_boundaries.push_back(offset);
    m_buf.insert(m_buf.end(), bytes.begin(), bytes.end());
    Cut();
}

void CaptureDirection::OnGap(std::uint64_t offset, std::uint64_t bytes) {
    if (m_state == State::Ignored) return;
    if (m_connection.accepted) Report(CaptureItemKind::Gap, offset, bytes, {});
    // What came before the gap cannot be completed; cutting waits for a trusted start.
    m_buf.clear();
    m_read = 0;
    m_boundaries.clear();
    m_state = State::Search;
}

void CaptureDirection::End() {
    // A start that waited for more bytes gets none: the later segment starts are tried.
    while (m_state == State::Search && !m_boundaries.empty() && m_read < m_buf.size()) {
        m_boundaries.pop_front();
        Cut();
    }
    if (m_state == State::Ignored || m_read == m_buf.size()) return;
    if (m_connection.accepted && (m_state == State::Framing || m_state == State::Start)) {
        Report(CaptureItemKind::Truncated, m_heldAt, 0, {});
    }
    m_buf.clear();
    m_read = 0;
}

void CaptureDirection::Consume(std::size_t n) {
    m_read += n;
    m_heldAt += n;
    if (m_read == m_buf.size()) {
        m_buf.clear();
        m_read = 0;
    } else if (m_read > 65536 && m_read * 2 > m_buf.size()) {
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(m_read));
        m_read = 0;
    }
}

void CaptureDirection::Cut() {
    while (m_read < m_buf.size()) {
        if (m_state == State::Ignored) {
            m_buf.clear();
            m_read = 0;
            return;
        }
        if (m_state == State::Search) {
            // Only a segment's start can be trusted as a message's start.
            while (!m_boundaries.empty() && m_boundaries.front() < m_heldAt) {
                m_boundaries.pop_front();
            }
            if (m_boundaries.empty()) {
                Consume(m_buf.size() - m_read);
                return;
            }
            Consume(static_cast<std::size_t>(m_boundaries.front() - m_heldAt));
            if (!CutOne(true)) return;
            continue;
        }
        if (!CutOne(false)) return;
    }
}

// Cuts and decodes the message at the held bytes' start. False: more bytes are needed.
bool CaptureDirection::CutOne(bool searching) {
    const CaptureOptions& options = m_analyzer.Options();
    const std::span<const std::uint8_t> held = Held();
    const FieldTable* table = options.table;
    if (table == nullptr) {
        const FieldTable& t128 = BuiltinTable(BuiltinForm::kUnionPay128);
        const FieldTable& t64 = BuiltinTable(BuiltinForm::kUnionPay64);
        table = options.interfaceType == kInterface64    ? &t64
                : options.interfaceType == kInterface128 ? &t128
                                                         : FirstFitting({&t128, &t64}, held);
    }
    FrameCut cut;
    if (table == nullptr) {
        cut.kind = FrameCut::Kind::Bad;
        cut.reason = "no length form fits";
    } else {
        cut = CutFrame(*table, held, CaptureAnalyzer::kMaxMessageBytes);
    }
    if (cut.kind == FrameCut::Kind::NeedMore) return false;
    if (cut.kind == FrameCut::Kind::Bad) {
        if (searching) {
            m_boundaries.pop_front();
            Consume(1);  // on to the next segment start
            return true;
        }
        if (!m_connection.accepted) {
            m_state = State::Ignored;
            return true;
        }
        if (!m_reportedUnframeable) {
            m_reportedUnframeable = true;
            m_reason = cut.reason;
            Report(CaptureItemKind::Unframeable, m_heldAt, 0, m_reason);
        }
        m_state = State::Search;
        m_boundaries.clear();
        Consume(m_buf.size() - m_read);
        return true;
    }
    const std::span<const std::uint8_t> message = held.first(cut.length);
    const CommandResult& result = m_analyzer.Decode(message, *table);
    if (!result.Ok() && (searching || !m_connection.accepted)) {
        // A start that does not decode is not trusted.
        if (searching) {
            m_boundaries.pop_front();
            Consume(1);
        } else {
            m_state = State::Ignored;
        }
        return true;
    }
    m_connection.accepted = true;
    m_state = State::Framing;
    m_boundaries.clear();
    EmitMessage(message, result);
    Consume(cut.length);
    return true;
}

void CaptureDirection::EmitMessage(std::span<const std::uint8_t> bytes,
                                   const CommandResult& result) {
    ReadKeys(result.rows, m_keys);
    CaptureItem item;
    item.kind = CaptureItemKind::Message;
    item.offset = m_heldAt;
    item.bytes = bytes;
    item.result = &result;
    item.type = m_keys.type;
    item.field11 = TextPart(m_keys.f11);
    item.field39 = m_keys.f39;
    item.src = &m_connection.ends[m_side];
    item.dst = &m_connection.ends[1 - m_side];
    const bool both = !m_keys.f11.empty() && !m_keys.f41.empty();
    if (IsReplyType(m_keys.type)) {
        auto& requests = m_connection.dirs[1 - m_side]->awaiting;
        const auto match = std::find_if(requests.begin(), requests.end(), [&](const Awaiting& a) {
            const bool bothCarry = both && !a.f11.empty() && !a.f41.empty();
            return !bothCarry || (a.f11 == m_keys.f11 && a.f41 == m_keys.f41);
        });
        if (match != requests.end()) {
            item.replyTo = static_cast<std::int64_t>(match->index);
            item.latencyUs = m_analyzer.Now() - match->timeUs;
            requests.erase(match);
        }
    }
    item.request = IsRequestType(m_keys.type);
    m_analyzer.Emit(item);
    if (item.request) {
        if (awaiting.size() >= CaptureAnalyzer::kMaxAwaiting) awaiting.pop_front();
        awaiting.push_back({item.index, item.timeUs, m_keys.f11, m_keys.f41});
    }
}

void CaptureDirection::Report(CaptureItemKind kind, std::uint64_t offset, std::uint64_t gapBytes,
                              std::string_view reason) {
    CaptureItem item;
    item.kind = kind;
    item.offset = offset;
    item.gapBytes = gapBytes;
    item.reason = reason;
    item.src = &m_connection.ends[m_side];
    item.dst = &m_connection.ends[1 - m_side];
    m_analyzer.Emit(item);
}

CaptureAnalyzer::CaptureAnalyzer(const CaptureOptions& options, CaptureSink sink)
    : m_options(options), m_sink(std::move(sink)) {}

CaptureAnalyzer::~CaptureAnalyzer() = default;

void CaptureAnalyzer::Emit(CaptureItem& item) {
    item.index = m_lines++;
    item.timeUs = m_now;
    m_sink(item);
}

const CommandResult& CaptureAnalyzer::Decode(std::span<const std::uint8_t> bytes,
                                             const FieldTable& cutBy) {
    m_hex.clear();
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t b : bytes) {
        m_hex += kDigits[b >> 4];
        m_hex += kDigits[b & 0x0F];
    }
    ParseRequest request;
    if (m_options.table != nullptr) {
        request.table = m_options.table;
        request.titles = true;
    } else if (m_options.interfaceType == kInterfaceAuto) {
        request.interfaceType = kInterfaceAuto;
    } else {
        // The message keeps its length part: decode by the form's table, which finds it.
        request.table = &cutBy;
    }
    m_parser.Parse(m_hex, request, m_result);
    return m_result;
}

void CaptureAnalyzer::Segment(std::int64_t timeUs, const TcpSegment& segment) {
    m_now = timeUs;
    if (m_options.port >= 0 && segment.src.port != m_options.port &&
        segment.dst.port != m_options.port) {
        return;
    }
    const bool forward = segment.src < segment.dst;
    const Key key = forward ? Key{segment.src, segment.dst} : Key{segment.dst, segment.src};
    auto found = m_connections.find(key);
    if (found == m_connections.end()) {
        if (segment.rst) return;
        found = m_connections
                    .emplace(key, std::make_unique<CaptureConnection>(
                                      *this, key.first, key.second, m_options.port >= 0))
                    .first;
    }
    CaptureConnection& c = *found->second;
    const int side = c.ends[0] == segment.src ? 0 : 1;
    CaptureDirection& d = *c.dirs[side];
    d.assembly.Segment(segment.seq, segment.syn, segment.fin, segment.payload, segment.missing, d);
    if (segment.fin) c.fin[side] = true;
    const bool closed = c.fin[0] && c.fin[1] && c.dirs[0]->assembly.PendingBytes() == 0 &&
                        c.dirs[1]->assembly.PendingBytes() == 0;
    if (segment.rst || closed) {
        c.Finish();
        m_connections.erase(found);
    }
}

void CaptureAnalyzer::Finish() {
    for (auto& [key, c] : m_connections) c->Finish();
    m_connections.clear();
}
