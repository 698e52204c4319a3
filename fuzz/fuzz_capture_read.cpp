// Fuzzes the capture reader. First byte: bit 0 picks a port filter, bits 1-2 the form (auto, 64,
// 128), bit 7 the input kind: set, the rest is a capture file read through libpcap; clear, it is
// a run of frames, each a link type byte, a 2-byte big-endian size and the frame, fed straight to
// the frame decoding, reassembly and cutting.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/CaptureMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    CaptureOptions options;
    options.port = (data[0] & 1) != 0 ? 5000 : -1;
    const int forms[] = {kInterfaceAuto, kInterface64, kInterface128, kInterfaceAuto};
    options.interfaceType = forms[(data[0] >> 1) & 3];
    std::uint64_t lines = 0;
    CaptureAnalyzer analyzer(options, [&](const CaptureItem& item) {
        // Every line has its number in order, and a message never exceeds the bound.
        if (item.index != lines++) std::abort();
        if (item.bytes.size() > CaptureAnalyzer::kMaxMessageBytes) std::abort();
        if (item.replyTo >= static_cast<std::int64_t>(item.index)) std::abort();
    });
    if ((data[0] & 0x80) != 0) {
        std::string copy(reinterpret_cast<const char*>(data + 1), size - 1);
        if (copy.empty()) return 0;
        std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
        if (f == nullptr) return 0;
        (void)ReadCaptureStream(f, analyzer);
        return 0;
    }
    std::size_t at = 1;
    TcpSegment segment;
    std::int64_t time = 0;
    while (at + 3 <= size) {
        const int link = data[at];
        const std::size_t n = std::min<std::size_t>((data[at + 1] << 8) | data[at + 2], size - at - 3);
        if (DecodeTcpFrame(link, {data + at + 3, n}, segment)) analyzer.Segment(time, segment);
        time += 1000;
        at += 3 + n;
    }
    analyzer.Finish();
    return 0;
}
