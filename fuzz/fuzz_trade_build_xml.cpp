// Fuzzes the XML build command with arbitrary configuration texts, a share of them through a file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "trade/TradeCommands.h"

namespace {

// Writes the input to a temporary file and returns its path (empty when none could be made).
std::string WriteTemporary(std::string_view bytes) {
    char path[] = "/tmp/tarnwick_fuzz_xml_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return path;
}

void Check(const CommandResult& r) {
    if (r.Ok() && (r.message.size() < 32 || r.rows.size() < 2)) __builtin_trap();
    if (!r.Ok() && !r.message.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const CommandResult fromText = BuildTradeFromXmlText(xml);
    Check(fromText);
    // The file wrapper for one input in eight: it must agree with the text reader.
    if (size > 0 && data[0] % 8 == 0) {
        const std::string path = WriteTemporary(xml);
        if (!path.empty()) {
            const CommandResult fromFile = BuildTradeFromXmlFile(path);
            std::remove(path.c_str());
            Check(fromFile);
            if (fromFile.error != fromText.error || fromFile.message != fromText.message) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
