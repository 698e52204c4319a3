// The simulated host on loopback: requests answered per second with 1 and 50 connections, beside
// the parse command and the answer alone over the same request in the same run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchData.h"
#include "codec/Conversions.h"
#include "iso/ParseIso8583.h"
#include "host/HostServer.h"
#include "host/HostSimulator.h"
#include "net/Socket.h"

namespace {

constexpr int kMessagesPerRun = 2000;

/// Baseline: the parse command over the request's text.
void BM_ParseRequestText(benchmark::State& state) {
    const std::string text = GoldenLine("typical64.txt");
    CommandResult result;
    for (auto _ : state) {
        ParseIso8583Text(text, kInterfaceAuto, result);
        benchmark::DoNotOptimize(result.rows.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseRequestText);

/// The simulator's work for one request without the network: decode, answer, encode, rows.
void BM_AnswerRequest(benchmark::State& state) {
    const auto request = GoldenBytes("typical64.txt");
    for (auto _ : state) {
        const SimExchange x = AnswerRequest(request, SimForm::Iso64, {});
        benchmark::DoNotOptimize(x.reply.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AnswerRequest);

/// kMessagesPerRun requests over state.range(0) connections, each waiting for its answer
/// before it sends the next.
void BM_ServeLoopback(benchmark::State& state) {
    const auto connections = static_cast<int>(state.range(0));
    const auto request = GoldenBytes("typical64.txt");
    const std::size_t replyBytes = request.size() + 2;  // field 39 is added
    CancelFlag stop{false};
    std::atomic<std::uint16_t> port{0};
    ServeOptions o;
    o.stop = &stop;
    o.listening = [&port](std::uint16_t p) { port = p; };
    std::string why;
    std::thread server([&] { (void)ServeHost(o, why); });
    while (port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::atomic<int> failures{0};
    for (auto _ : state) {
        std::vector<std::thread> clients;
        for (int c = 0; c < connections; ++c) {
            clients.emplace_back([&] {
                SocketHandle s;
                std::string reason;
                if (ConnectToHost("127.0.0.1", port, s, 3000, &reason) != kConnectOk) {
                    ++failures;
                    return;
                }
                std::vector<std::uint8_t> reply(replyBytes);
                for (int m = 0; m < kMessagesPerRun / connections; ++m) {
                    if (SendAll(s, request, 3000, reason) != request.size()) {
                        ++failures;
                        return;
                    }
                    for (std::size_t have = 0; have < replyBytes;) {
                        std::size_t got = 0;
                        if (ReceiveSome(s, std::span(reply).subspan(have), 3000, got, reason) !=
                            ReceiveStatus::Data) {
                            ++failures;
                            return;
                        }
                        have += got;
                    }
                }
            });
        }
        for (auto& t : clients) t.join();
    }
    stop = true;
    server.join();
    if (failures > 0) state.SkipWithError("a client failed");
    state.SetItemsProcessed(state.iterations() * (kMessagesPerRun / connections) * connections);
}
BENCHMARK(BM_ServeLoopback)
    ->Arg(1)
    ->Arg(50)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
