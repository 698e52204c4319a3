// One captured frame read down to its TCP segment.
#include "capture/Packet.h"

#include <algorithm>
#include <cstdio>

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherIpv6 = 0x86DD;
constexpr std::uint8_t kProtoTcp = 6;

// The TCP header and payload; wire is the bytes the IP header says the segment has.
bool ReadTcp(std::span<const std::uint8_t> bytes, std::size_t wire, TcpSegment& out) {
    if (bytes.size() < 20 || wire < 20) return false;
    const std::uint8_t* t = bytes.data();
    const std::size_t header = static_cast<std::size_t>(t[12] >> 4) * 4;
    if (header < 20 || header > bytes.size() || header > wire) return false;
    out.src.port = Be16(t);
    out.dst.port = Be16(t + 2);
    out.seq = Be32(t + 4);
    const std::uint8_t flags = t[13];
    out.fin = (flags & 0x01) != 0;
    out.syn = (flags & 0x02) != 0;
    out.rst = (flags & 0x04) != 0;
    const std::size_t payload = wire - header;
    const std::size_t captured = std::min(payload, bytes.size() - header);
    out.payload = bytes.subspan(header, captured);
    out.missing = static_cast<std::uint32_t>(payload - captured);
    return true;
}

bool ReadIpv4(std::span<const std::uint8_t> bytes, TcpSegment& out) {
    if (bytes.size() < 20 || (bytes[0] >> 4) != 4) return false;
    const std::size_t header = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    const std::size_t total = Be16(&bytes[2]);
    if (header < 20 || header > bytes.size() || total < header) return false;
    // A fragment carries no TCP header of its own to read (or only part of the segment).
    const std::uint16_t fragment = Be16(&bytes[6]);
    if ((fragment & 0x3FFF) != 0) return false;
    if (bytes[9] != kProtoTcp) return false;
    out.src = {};
    out.dst = {};
    std::copy_n(&bytes[12], 4, out.src.address.begin());
    std::copy_n(&bytes[16], 4, out.dst.address.begin());
    return ReadTcp(bytes.subspan(header), total - header, out);
}

bool ReadIpv6(std::span<const std::uint8_t> bytes, TcpSegment& out) {
    if (bytes.size() < 40 || (bytes[0] >> 4) != 6) return false;
    std::size_t wire = Be16(&bytes[4]);
    std::uint8_t next = bytes[6];
    std::size_t at = 40;
    // Extension headers in front of TCP: hop-by-hop, routing, destination options.
    while (next == 0 || next == 43 || next == 60) {
        if (at + 8 > bytes.size()) return false;
        const std::size_t len = (static_cast<std::size_t>(bytes[at + 1]) + 1) * 8;
        if (len > wire) return false;
        next = bytes[at];
        at += len;
        wire -= len;
    }
    if (next != kProtoTcp || at > bytes.size()) return false;  // fragments (44) among the rest
    out.src = {};
    out.dst = {};
    std::copy_n(&bytes[8], 16, out.src.address.begin());
    std::copy_n(&bytes[24], 16, out.dst.address.begin());
    out.src.v6 = out.dst.v6 = true;
    return ReadTcp(bytes.subspan(at), wire, out);
}

bool ReadIp(std::uint16_t etherType, std::span<const std::uint8_t> bytes, TcpSegment& out) {
    if (etherType == kEtherIpv4) return ReadIpv4(bytes, out);
    if (etherType == kEtherIpv6) return ReadIpv6(bytes, out);
    return false;
}

// The IP version from the first nibble (raw IP links).
bool ReadRawIp(std::span<const std::uint8_t> bytes, TcpSegment& out) {
    if (bytes.empty()) return false;
    if ((bytes[0] >> 4) == 4) return ReadIpv4(bytes, out);
    if ((bytes[0] >> 4) == 6) return ReadIpv6(bytes, out);
    return false;
}

}  // namespace

bool LinkTypeKnown(int linkType) {
    switch (linkType) {
        case kLinkNull:
        case kLinkEthernet:
        case kLinkRaw:
        case kLinkRawAlt:
        case kLinkLoop:
        case kLinkLinuxSll:
        case kLinkIpv4:
        case kLinkIpv6:
        case kLinkLinuxSll2:
            return true;
        default:
            return false;
    }
}

bool DecodeTcpFrame(int linkType, std::span<const std::uint8_t> frame, TcpSegment& out) {
    switch (linkType) {
        case kLinkEthernet: {
            if (frame.size() < 14) return false;
            std::size_t at = 12;
            std::uint16_t type = Be16(&frame[at]);
            // 802.1Q and 802.1ad tags, stacked.
            while ((type == 0x8100 || type == 0x88A8) && at + 6 <= frame.size()) {
                at += 4;
                type = Be16(&frame[at]);
            }
            return ReadIp(type, frame.subspan(at + 2), out);
        }
        case kLinkLinuxSll:
            if (frame.size() < 16) return false;
            return ReadIp(Be16(&frame[14]), frame.subspan(16), out);
        case kLinkLinuxSll2:
            if (frame.size() < 20) return false;
            return ReadIp(Be16(&frame[0]), frame.subspan(20), out);
        case kLinkNull:
        case kLinkLoop:
            // The address family's value tells the IP version whatever the byte order; the
            // packet itself says it as well.
            if (frame.size() < 4) return false;
            return ReadRawIp(frame.subspan(4), out);
        case kLinkRaw:
        case kLinkRawAlt:
        case kLinkIpv4:
        case kLinkIpv6:
            return ReadRawIp(frame, out);
        default:
            return false;
    }
}

std::string EndpointText(const Endpoint& e) {
    char buf[64];
    std::string text;
    if (!e.v6) {
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", e.address[0], e.address[1],
                      e.address[2], e.address[3], e.port);
        return buf;
    }
    std::array<std::uint16_t, 8> groups{};
    for (std::size_t i = 0; i < 8; ++i) groups[i] = Be16(&e.address[2 * i]);
    // The longest run of two or more zero groups (the first of equal ones) becomes "::".
    std::size_t bestAt = 8;
    std::size_t bestLen = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > bestLen) {
            bestAt = i;
            bestLen = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    text.clear();
    text.push_back('[');
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == bestAt) {
            text += "::";
            i += bestLen - 1;
            continue;
        }
        if (i > 0 && i != bestAt + bestLen) text += ':';
        std::snprintf(buf, sizeof buf, "%x", groups[i]);
        text += buf;
    }
    std::snprintf(buf, sizeof buf, "]:%u", e.port);
    return text + buf;
}
