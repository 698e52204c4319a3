// Batch mode on several threads: the input in blocks of whole lines, the output in input order.
#include "cli/EachLineJobs.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "codec/Texts.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;
// A line is kept up to one character more than a command takes, as the serial loop keeps it.
constexpr std::size_t kLineKeep = kMaxMessageText + 1;

/// Cuts the input into blocks that end at a line end; a line is kept up to kLineKeep
/// characters, the rest of it dropped up to its end.
class BlockReader {
public:
    explicit BlockReader(std::FILE* in) : m_in(in), m_buffer(kBlock) {}

    /// The next block of whole lines (the input's last line may lack its end); false when the
    /// input has no more.
    bool Next(std::string& block) {
        block.clear();
        block.swap(m_carry);
        while (!m_eof && block.size() < kBlock) {
            const std::size_t n = std::fread(m_buffer.data(), 1, m_buffer.size(), m_in);
            if (n < m_buffer.size()) m_eof = true;
            Take(std::string_view(m_buffer.data(), n), block);
        }
        if (!m_eof) {
            // The unfinished last line waits for the next block.
            const std::size_t start = block.size() - m_lineLen;
            m_carry.assign(block, start, std::string::npos);
            block.resize(start);
        }
        return !block.empty();
    }
    [[nodiscard]] bool Failed() const { return std::ferror(m_in) != 0; }

private:
    void Take(std::string_view chunk, std::string& block) {
        while (!chunk.empty()) {
            const void* nl = std::memchr(chunk.data(), '\n', chunk.size());
            const std::size_t upTo =
                nl == nullptr
                    ? chunk.size()
                    : static_cast<std::size_t>(static_cast<const char*>(nl) - chunk.data());
            if (!m_dropping) {
                const std::size_t room = kLineKeep - m_lineLen;
                const std::size_t take = std::min(room, upTo);
                block.append(chunk.data(), take);
                m_lineLen += take;
                m_dropping = upTo > room;
            }
            if (nl == nullptr) return;
            block += '\n';
            m_lineLen = 0;
            m_dropping = false;
            chunk.remove_prefix(upTo + 1);
        }
    }

    std::FILE* m_in;
    std::vector<char> m_buffer;
    std::string m_carry;        // the kept part of an unfinished line
    std::size_t m_lineLen = 0;  // characters kept of the unfinished line
    bool m_dropping = false;    // the unfinished line is past kLineKeep
    bool m_eof = false;
};

}  // namespace

unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

int RunEachLineJobs(std::FILE* in, std::FILE* out, const EachLineOptions& options,
                    unsigned jobs) {
    if (jobs <= 1) return RunEachLine(in, out, options);
    // A ring of blocks: the reader fills them in input order, the workers convert them in that
    // order, and the blocks' outputs are written in that order too; at most 2 per worker are
    // held, so memory stays bounded whatever the input's length.
    struct Slot {
        std::string input;
        std::string output;
        enum class State { Free, Filled, Taken, Done } state = State::Free;
    };
    const std::size_t ringSize = 2 * static_cast<std::size_t>(jobs);
    std::vector<Slot> ring(ringSize);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t filled = 0;  // blocks read so far
    std::size_t taken = 0;   // blocks handed to a worker so far
    bool end = false;

    const auto work = [&] {
        // Blocks end at a line end, so one converter serves every block of a worker; Finish
        // converts the input's last line when it lacks its end. Each worker's converter holds
        // its own decoder.
        EachLineJson lines(options);
        for (;;) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return taken < filled || end; });
            if (taken == filled) return;
            Slot& slot = ring[taken % ringSize];
            ++taken;
            slot.state = Slot::State::Taken;
            lock.unlock();
            slot.output.clear();
            lines.Feed(slot.input, slot.output);
            lines.Finish(slot.output);
            lock.lock();
            slot.state = Slot::State::Done;
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(jobs);
    for (unsigned k = 0; k < jobs; ++k) workers.emplace_back(work);

    BlockReader reader(in);
    std::size_t written = 0;
    bool writeFailed = false;
    // Writes the blocks done, in order; with wait, first waits for the next one.
    const auto writeDone = [&](std::unique_lock<std::mutex>& lock, bool wait) {
        for (;;) {
            if (written == filled) return;
            Slot& slot = ring[written % ringSize];
            if (slot.state != Slot::State::Done) {
                if (!wait) return;
                changed.wait(lock, [&] { return slot.state == Slot::State::Done; });
            }
            lock.unlock();
            if (!writeFailed &&
                std::fwrite(slot.output.data(), 1, slot.output.size(), out) != slot.output.size()) {
                writeFailed = true;
            }
            lock.lock();
            slot.state = Slot::State::Free;
            ++written;
            wait = false;
        }
    };
    std::string block;
    for (;;) {
        const bool more = reader.Next(block);
        std::unique_lock lock(mutex);
        if (!more) break;
        // A free slot for the block: the oldest one's output must be written first.
        if (filled - written == ringSize) writeDone(lock, true);
        Slot& slot = ring[filled % ringSize];
        slot.input.swap(block);
        slot.state = Slot::State::Filled;
        ++filled;
        changed.notify_all();
        writeDone(lock, false);
    }
    {
        std::unique_lock lock(mutex);
        end = true;
        changed.notify_all();
        while (written < filled) writeDone(lock, true);
    }
    for (std::thread& t : workers) t.join();
    if (reader.Failed()) {
        std::fputs("tarnwick-cli: read error on standard input\n", stderr);
        return 1;
    }
    if (writeFailed || std::fflush(out) != 0) {
        std::fputs("tarnwick-cli: write error on standard output\n", stderr);
        return 1;
    }
    return 0;
}
