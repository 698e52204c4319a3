// load against serve on 127.0.0.1, both in this process: messages answered per second with 50
// connections, serve writing its JSON log lines as the command does (to /dev/null).
#include <benchmark/benchmark.h>

#ifdef TARNWICK_HAVE_CLI

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchData.h"
#include "cli/Load.h"
#include "cli/Serve.h"
#include "codec/Conversions.h"
#include "host/HostServer.h"

namespace {

constexpr std::uint64_t kMessagesPerRun = 100000;

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

/// kMessagesPerRun messages from load over state.range(0) connections to an in-process serve;
/// state.range(1) threads for load (0: one per core).
void BM_LoadAgainstServe(benchmark::State& state) {
    const std::unique_ptr<std::FILE, FileClose> devNull(std::fopen("/dev/null", "w"));
    CancelFlag stop{false};
    std::atomic<std::uint16_t> port{0};
    std::string pending;
    ServeOptions serve;
    serve.stop = &stop;
    serve.listening = [&port](std::uint16_t p) { port = p; };
    serve.log = [&pending](const ServeRecord& r) { AppendServeLogLine(pending, r); };
    serve.flush = [&] {
        std::fwrite(pending.data(), 1, pending.size(), devNull.get());
        std::fflush(devNull.get());
        pending.clear();
    };
    std::string why;
    std::thread server([&] { (void)ServeHost(serve, why); });
    while (port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    LoadOptions load;
    load.port = port;
    load.connections = static_cast<unsigned>(state.range(0));
    load.threads = static_cast<unsigned>(state.range(1));
    load.count = kMessagesPerRun;
    load.messages = {GoldenBytes("typical64.txt")};
    std::uint64_t replies = 0;
    double seconds = 0;
    for (auto _ : state) {
        const LoadReport report = RunLoad(load);
        replies += report.replies;
        seconds += report.seconds;
        if (report.replies != kMessagesPerRun) state.SkipWithError("not every message answered");
    }
    stop = true;
    server.join();
    state.SetItemsProcessed(static_cast<std::int64_t>(replies));
    state.counters["messages/s"] = seconds > 0 ? static_cast<double>(replies) / seconds : 0;
}
BENCHMARK(BM_LoadAgainstServe)->Args({50, 0})->Args({50, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

#endif
