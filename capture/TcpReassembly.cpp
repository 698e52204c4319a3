// One direction of a TCP connection put back in order by sequence number.
#include "capture/TcpReassembly.h"

#include <algorithm>

void TcpReassembly::Segment(std::uint32_t seq, bool syn, bool fin,
                            std::span<const std::uint8_t> payload, std::uint32_t missing,
                            StreamSink& sink) {
    if (syn) {
        if (!m_started) {
            m_started = true;
            m_fromStart = true;
            m_base = seq + 1;
        }
        ++seq;  // data in a SYN follows its sequence number
    }
    if (!m_started) {
        if (payload.empty() && missing == 0) return;  // a bare ACK says nothing of where data starts
        m_started = true;
        m_base = seq;
    }
    // The offset by the distance to the next expected byte: sequence numbers wrap at 2^32, and a
    // segment more than 2 GiB behind reads as before the start.
    const std::uint32_t nextSeq = m_base + static_cast<std::uint32_t>(m_next);
    const auto delta = static_cast<std::int32_t>(seq - nextSeq);
    if (delta < 0 && static_cast<std::uint64_t>(-static_cast<std::int64_t>(delta)) > m_next) {
        return;  // before the direction's first byte
    }
    const std::uint64_t at = static_cast<std::uint64_t>(static_cast<std::int64_t>(m_next) + delta);
    const std::uint64_t reach = at + payload.size() + missing + (fin ? 1 : 0);
    if (missing > 0 || fin) m_end = std::max(m_end, reach - (fin ? 1 : 0));
    if (payload.empty()) {
        // Headers captured, payload cut off whole: the gap is known at once.
        if (missing > 0 && at <= m_next && at + missing > m_next) {
            sink.OnGap(m_next, at + missing - m_next);
            m_next = at + missing;
            Drain(sink);
        }
        return;
    }
    const std::uint64_t end = at + payload.size();
    if (end <= m_next) return;  // retransmitted: delivered already
    if (at <= m_next) {
        Deliver(at, payload, missing, sink);
        Drain(sink);
        return;
    }
    Held& held = m_pending[at];
    if (held.bytes.size() < payload.size()) {
        m_pendingBytes += payload.size() - held.bytes.size();
        held.bytes.assign(payload.begin(), payload.end());
        held.missing = missing;
    }
    // Too much waits for bytes that do not come: they are lost.
    while (m_pendingBytes > kMaxPending) SkipToPending(sink);
}

void TcpReassembly::Deliver(std::uint64_t at, std::span<const std::uint8_t> bytes,
                            std::uint32_t missing, StreamSink& sink) {
    if (at + bytes.size() <= m_next) return;
    bool boundary = true;
    if (at < m_next) {
        bytes = bytes.subspan(static_cast<std::size_t>(m_next - at));
        boundary = false;
        at = m_next;
    }
    sink.OnBytes(at, bytes, boundary);
    m_next = at + bytes.size();
    // The bytes the capture cut off this segment never come: a gap right here.
    if (missing > 0) {
        sink.OnGap(m_next, missing);
        m_next += missing;
    }
}

void TcpReassembly::Drain(StreamSink& sink) {
    while (!m_pending.empty() && m_pending.begin()->first <= m_next) {
        auto node = m_pending.extract(m_pending.begin());
        m_pendingBytes -= node.mapped().bytes.size();
        Deliver(node.key(), node.mapped().bytes, node.mapped().missing, sink);
    }
}

void TcpReassembly::SkipToPending(StreamSink& sink) {
    if (m_pending.empty()) return;
    const std::uint64_t to = m_pending.begin()->first;
    if (to > m_next) {
        sink.OnGap(m_next, to - m_next);
        m_next = to;
    }
    Drain(sink);
}

void TcpReassembly::Finish(StreamSink& sink) {
    while (!m_pending.empty()) SkipToPending(sink);
    if (m_end > m_next) {
        sink.OnGap(m_next, m_end - m_next);
        m_next = m_end;
    }
}
