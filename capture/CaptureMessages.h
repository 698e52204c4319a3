// Messages out of captured TCP traffic: connections followed, each direction reassembled, cut
// into messages by the framing, decoded, and replies paired with their requests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "capture/Packet.h"
#include "codec/Texts.h"
#include "iso/CommandResult.h"
#include "iso/ParseIso8583.h"

/// How messages are cut and decoded.
struct CaptureOptions {
    int interfaceType = kInterfaceAuto;  ///< the built-in forms, when table is null
    const FieldTable* table = nullptr;   ///< a table with a Length part (outlives the reader)
    int port = -1;  ///< keep only connections with this port at one end; -1: every connection
                    ///< whose first message frames and decodes
};

/// What a line of the output stands for.
enum class CaptureItemKind : std::uint8_t {
    Message,      ///< a message cut and decoded (result says how the decoding went)
    Gap,          ///< bytes never captured
    Unframeable,  ///< the bytes at offset do not frame as a message
    Truncated,    ///< the capture ends inside a message
};

/// One line of the output.
struct CaptureItem {
    CaptureItemKind kind = CaptureItemKind::Message;
    std::uint64_t index = 0;    ///< 0-based line number
    std::int64_t timeUs = 0;    ///< epoch microseconds of the frame that completed it
    const Endpoint* src = nullptr;
    const Endpoint* dst = nullptr;
    std::uint64_t offset = 0;   ///< in the direction's byte stream
    std::uint64_t gapBytes = 0;
    std::string_view reason;    ///< Unframeable: why
    std::span<const std::uint8_t> bytes;     ///< Message: length part included
    const CommandResult* result = nullptr;   ///< Message
    std::string_view type;      ///< message type text ("0210"), empty when unknown
    std::string_view field11;
    std::string_view field39;   ///< as text
    bool request = false;       ///< a message type that awaits a reply
    std::int64_t replyTo = -1;  ///< a reply: its request's line
    std::int64_t latencyUs = -1;
};

using CaptureSink = std::function<void(const CaptureItem&)>;

class CaptureConnection;

/// Follows the TCP connections of a capture frame by frame; every line is handed to the sink as
/// soon as it is known, so memory stays bounded by the connections open, not the capture's size.
class CaptureAnalyzer {
public:
    /// Most bytes one message may have.
    static constexpr std::size_t kMaxMessageBytes = kMaxMessageText / 2;
    /// Requests awaiting a reply per direction; older ones count as unanswered.
    static constexpr std::size_t kMaxAwaiting = 65536;

    CaptureAnalyzer(const CaptureOptions& options, CaptureSink sink);
    CaptureAnalyzer(const CaptureAnalyzer&) = delete;
    CaptureAnalyzer& operator=(const CaptureAnalyzer&) = delete;
    ~CaptureAnalyzer();

    void Segment(std::int64_t timeUs, const TcpSegment& segment);
    /// The capture is over: every connection's held bytes, gaps and cut messages are reported.
    void Finish();

    // The connections' shared working parts.
    [[nodiscard]] const CaptureOptions& Options() const { return m_options; }
    [[nodiscard]] std::int64_t Now() const { return m_now; }
    void Emit(CaptureItem& item);
    /// Decodes a message into the shared result.
    const CommandResult& Decode(std::span<const std::uint8_t> bytes, const FieldTable& cutBy);

private:
    using Key = std::pair<Endpoint, Endpoint>;
    CaptureOptions m_options;
    CaptureSink m_sink;
    std::map<Key, std::unique_ptr<CaptureConnection>> m_connections;
    IsoParser m_parser;
    CommandResult m_result;
    std::string m_hex;
    std::int64_t m_now = 0;
    std::uint64_t m_lines = 0;
};

/// Reads a capture file (pcap or pcapng) record by record through libpcap. Empty on success,
/// else why it cannot be read.
[[nodiscard]] std::string ReadCaptureFile(const std::string& path, CaptureAnalyzer& analyzer);
/// The same from an open stream (tests, fuzzing); the stream is closed when read.
[[nodiscard]] std::string ReadCaptureStream(std::FILE* file, CaptureAnalyzer& analyzer);
