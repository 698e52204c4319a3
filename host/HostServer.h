// The simulated host: a listening socket, many connections, requests answered by rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/HostSimulator.h"
#include "net/Socket.h"

/// One logged event: an exchange (a request and what was done with it) or a bad request.
struct ServeRecord {
    std::string_view peer;                  // "address:port"
    const SimExchange* exchange = nullptr;  // the decoded request and answer, when there is one
    std::string_view ended;  // "answered", "garbage", "closed", "unanswered", "idle" or "dropped"
    std::string_view error;                 // not empty: why the request was bad or not answered
    std::size_t bytes = 0;                  // bytes of the request (so far)
};

struct ServeOptions {
    std::string address = "127.0.0.1";  // the only address listened on
    std::uint16_t port = 0;             // 0: an ephemeral port
    SimForm form = SimForm::Auto;
    const FieldTable* table = nullptr;  // SimForm::Table: the form (TableHost::CannotServe empty)
    SimRules rules;
    HostKeys* keys = nullptr;          // MACs checked and computed, sign-ins answered with keys
    std::size_t count = 0;             // stop after this many requests; 0: no limit
    int idleTimeoutMs = 0;             // stop after this long without traffic; 0: never
    int requestTimeoutMs = 10000;      // a request must be whole this long after its first byte
    int connectionIdleMs = 10000;      // a connection with nothing received or sent for this long
                                       // (silent, or stalled inside a request) is closed
    std::size_t maxConnections = 256;  // when all are taken, the newest idle connection gives
                                       // way to a new one; with none idle the new one is closed
    const CancelFlag* stop = nullptr;  // set from another thread to stop
    std::function<void(std::uint16_t port)> listening;  // called once the socket listens
    std::function<void(const ServeRecord&)> log;
    /// Called after each round of the loop (before it waits again): lines logged in the round
    /// may be written out together.
    std::function<void()> flush;
};

/// Listens and answers until the count or the idle time-out is reached, or stop is set; pending
/// answers are still sent (for at most a second). False with why when it cannot listen.
[[nodiscard]] bool ServeHost(const ServeOptions& options, std::string& why);
