// Capture files written byte by byte in the tests: pcap and pcapng around Ethernet, IPv4/IPv6
// and TCP headers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace capture_test {

inline void Put16(std::string& s, std::uint32_t v) {  // big-endian
    s += static_cast<char>((v >> 8) & 0xFF);
    s += static_cast<char>(v & 0xFF);
}
inline void Put32(std::string& s, std::uint32_t v) {
    Put16(s, v >> 16);
    Put16(s, v & 0xFFFF);
}
inline void Le32(std::string& s, std::uint32_t v) {  // the file headers: little-endian
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Le16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

struct Host {
    std::vector<std::uint8_t> address;  // 4 or 16 bytes
    std::uint16_t port = 0;
};

inline Host V4(std::uint8_t last, std::uint16_t port) { return {{10, 0, 0, last}, port}; }
inline Host V6(std::uint8_t last, std::uint16_t port) {
    std::vector<std::uint8_t> a = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
    return {a, port};
}

constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kAck = 0x10;
constexpr std::uint8_t kRst = 0x04;

/// An Ethernet frame carrying a TCP segment from src to dst.
inline std::string TcpFrame(const Host& src, const Host& dst, std::uint32_t seq,
                            std::uint8_t flags, const std::string& payload) {
    std::string tcp;
    Put16(tcp, src.port);
    Put16(tcp, dst.port);
    Put32(tcp, seq);
    Put32(tcp, 0);
    tcp += static_cast<char>(5 << 4);
    tcp += static_cast<char>(flags);
    Put16(tcp, 65535);
    Put32(tcp, 0);  // checksum (not checked) and urgent pointer
    tcp += payload;
    std::string frame(12, '\x02');
    const bool v6 = src.address.size() == 16;
    Put16(frame, v6 ? 0x86DD : 0x0800);
    if (v6) {
        Put32(frame, 0x60000000);
        Put16(frame, static_cast<std::uint32_t>(tcp.size()));
        frame += '\x06';
        frame += '\x40';
    } else {
        frame += '\x45';
        frame += '\0';
        Put16(frame, static_cast<std::uint32_t>(20 + tcp.size()));
        Put32(frame, 0x00004000);  // id, don't fragment
        frame += '\x40';
        frame += '\x06';
        Put16(frame, 0);
    }
    frame.append(src.address.begin(), src.address.end());
    frame.append(dst.address.begin(), dst.address.end());
    return frame + tcp;
}

struct Record {
    std::uint64_t timeUs = 0;
    std::string frame;
    std::uint32_t wireLength = 0;  // 0: the frame's size
};

/// A classic pcap file (microseconds, Ethernet).
inline std::string Pcap(const std::vector<Record>& records) {
    std::string f;
    Le32(f, 0xA1B2C3D4);
    Le16(f, 2);
    Le16(f, 4);
    Le32(f, 0);
    Le32(f, 0);
    Le32(f, 65535);
    Le32(f, 1);
    for (const Record& r : records) {
        Le32(f, static_cast<std::uint32_t>(r.timeUs / 1000000));
        Le32(f, static_cast<std::uint32_t>(r.timeUs % 1000000));
        Le32(f, static_cast<std::uint32_t>(r.frame.size()));
        Le32(f, r.wireLength != 0 ? r.wireLength : static_cast<std::uint32_t>(r.frame.size()));
        f += r.frame;
    }
    return f;
}

/// A pcapng file: section header, one Ethernet interface (microseconds), enhanced packets.
inline std::string Pcapng(const std::vector<Record>& records) {
    std::string f;
    Le32(f, 0x0A0D0D0A);
    Le32(f, 28);
    Le32(f, 0x1A2B3C4D);
    Le16(f, 1);
    Le16(f, 0);
    Le32(f, 0xFFFFFFFF);
    Le32(f, 0xFFFFFFFF);
    Le32(f, 28);
    Le32(f, 1);  // interface description
    Le32(f, 20);
    Le16(f, 1);
    Le16(f, 0);
    Le32(f, 65535);
    Le32(f, 20);
    for (const Record& r : records) {
        const std::size_t padded = (r.frame.size() + 3) / 4 * 4;
        const auto total = static_cast<std::uint32_t>(32 + padded);
        Le32(f, 6);
        Le32(f, total);
        Le32(f, 0);
        Le32(f, static_cast<std::uint32_t>(r.timeUs >> 32));
        Le32(f, static_cast<std::uint32_t>(r.timeUs & 0xFFFFFFFF));
        Le32(f, static_cast<std::uint32_t>(r.frame.size()));
        Le32(f, static_cast<std::uint32_t>(r.frame.size()));
        f += r.frame;
        f.append(padded - r.frame.size(), '\0');
        Le32(f, total);
    }
    return f;
}

}  // namespace capture_test
