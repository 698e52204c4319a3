// One direction of a TCP connection put back in order by sequence number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

/// Receives a direction's bytes in stream order. Offsets count from the direction's first byte
/// (the byte after the SYN, or the first byte seen when the SYN was not captured).
class StreamSink {
public:
    virtual ~StreamSink() = default;
    /// Bytes at offset; boundary: they start where a segment of the sender started (not the rest
    /// of a segment that overlapped bytes already delivered).
    virtual void OnBytes(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                         bool boundary) = 0;
    /// bytes bytes from offset were never captured; the next OnBytes continues after them.
    virtual void OnGap(std::uint64_t offset, std::uint64_t bytes) = 0;
};

/// Reassembles one direction: segments out of order wait for the bytes in front of them,
/// retransmitted and overlapping bytes are delivered once (the first copy counts), and bytes
/// that never came are reported as a gap, never made up.
class TcpReassembly {
public:
    /// Bytes held out of order before the bytes missing in front of them count as lost.
    static constexpr std::size_t kMaxPending = 4u << 20;

    /// A segment of this direction; missing: payload bytes the capture cut off after payload.
    void Segment(std::uint32_t seq, bool syn, bool fin, std::span<const std::uint8_t> payload,
                 std::uint32_t missing, StreamSink& sink);
    /// The direction ends (connection closed or capture over): what is still held is delivered,
    /// with the gaps in front of it; bytes up to a FIN that never came are a gap.
    void Finish(StreamSink& sink);

    /// Whether the direction's start (its SYN) was seen.
    [[nodiscard]] bool FromStart() const { return m_fromStart; }
    [[nodiscard]] bool Started() const { return m_started; }
    /// Offset of the next byte expected.
    [[nodiscard]] std::uint64_t Next() const { return m_next; }
    [[nodiscard]] std::size_t PendingBytes() const { return m_pendingBytes; }

private:
    struct Held {
        std::vector<std::uint8_t> bytes;
        std::uint32_t missing = 0;
    };
    void Deliver(std::uint64_t at, std::span<const std::uint8_t> bytes, std::uint32_t missing,
                 StreamSink& sink);
    void Drain(StreamSink& sink);
    void SkipToPending(StreamSink& sink);

    bool m_started = false;
    bool m_fromStart = false;
    std::uint32_t m_base = 0;  // sequence number of offset 0
    std::uint64_t m_next = 0;
    std::uint64_t m_end = 0;   // where a FIN or cut-off bytes said the direction reaches
    std::map<std::uint64_t, Held> m_pending;
    std::size_t m_pendingBytes = 0;
};
