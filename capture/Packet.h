// One captured frame read down to its TCP segment: link layer, IPv4 or IPv6, TCP.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

/// One end of a TCP connection: an IPv4 or IPv6 address and a port.
struct Endpoint {
    std::array<std::uint8_t, 16> address{};  ///< IPv4: the first 4 bytes
    bool v6 = false;
    std::uint16_t port = 0;

    friend bool operator==(const Endpoint&, const Endpoint&) = default;
    friend auto operator<=>(const Endpoint&, const Endpoint&) = default;
};

/// "A.B.C.D:port", or "[v6 address]:port" (RFC 5952 form).
[[nodiscard]] std::string EndpointText(const Endpoint& e);

/// The TCP segment a frame carries.
struct TcpSegment {
    Endpoint src;
    Endpoint dst;
    std::uint32_t seq = 0;
    bool syn = false;
    bool fin = false;
    bool rst = false;
    std::span<const std::uint8_t> payload;  ///< the captured part of the payload
    std::uint32_t missing = 0;  ///< payload bytes the frame carried but the capture cut off
};

/// Link types read (libpcap's DLT values).
inline constexpr int kLinkNull = 0;         ///< BSD loopback: 4-byte address family, host order
inline constexpr int kLinkEthernet = 1;
inline constexpr int kLinkRaw = 12;         ///< raw IP (LINKTYPE_RAW)
inline constexpr int kLinkRawAlt = 14;      ///< raw IP on some systems
inline constexpr int kLinkLoop = 108;       ///< BSD loopback, network order
inline constexpr int kLinkLinuxSll = 113;
inline constexpr int kLinkIpv4 = 228;
inline constexpr int kLinkIpv6 = 229;
inline constexpr int kLinkLinuxSll2 = 276;

/// Whether frames of the link type can be read.
[[nodiscard]] bool LinkTypeKnown(int linkType);

/// Reads a frame's captured bytes down to its TCP segment. False for anything else: another
/// protocol, an IP fragment, or headers cut short by the capture.
[[nodiscard]] bool DecodeTcpFrame(int linkType, std::span<const std::uint8_t> frame,
                                  TcpSegment& out);
