// Capture files read record by record through libpcap.
#include <pcap/pcap.h>

#include <memory>

#include "capture/CaptureMessages.h"

namespace {

struct PcapClose {
    void operator()(pcap_t* p) const { pcap_close(p); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapClose>;

std::string ReadAll(pcap_t* handle, CaptureAnalyzer& analyzer) {
    const int link = pcap_datalink(handle);
    if (!LinkTypeKnown(link)) {
        const char* name = pcap_datalink_val_to_name(link);
        return "link type " + std::to_string(link) + (name != nullptr ? std::string(" (") + name + ")" : "") +
               " is not read (Ethernet, Linux cooked, BSD loopback and raw IP are)";
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    TcpSegment segment;
    for (;;) {
        const int got = pcap_next_ex(handle, &header, &data);
        if (got == PCAP_ERROR_BREAK) break;  // the end of the file
        if (got != 1) {
            analyzer.Finish();
            return std::string("the capture file is damaged: ") + pcap_geterr(handle);
        }
        // pcapng files may change the link type between interfaces.
        const int frameLink = pcap_datalink(handle);
        if (!DecodeTcpFrame(frameLink, {data, header->caplen}, segment)) continue;
        const std::int64_t us =
            static_cast<std::int64_t>(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        analyzer.Segment(us, segment);
    }
    analyzer.Finish();
    return {};
}

}  // namespace

std::string ReadCaptureFile(const std::string& path, CaptureAnalyzer& analyzer) {
    char error[PCAP_ERRBUF_SIZE] = {};
    PcapHandle handle(pcap_open_offline_with_tstamp_precision(path.c_str(),
                                                              PCAP_TSTAMP_PRECISION_MICRO, error));
    if (!handle) return error;
    return ReadAll(handle.get(), analyzer);
}

std::string ReadCaptureStream(std::FILE* file, CaptureAnalyzer& analyzer) {
    char error[PCAP_ERRBUF_SIZE] = {};
    PcapHandle handle(
        pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_MICRO, error));
    if (!handle) {
        std::fclose(file);
        return error;
    }
    return ReadAll(handle.get(), analyzer);
}
