// Sockets watched for readiness across many waits: registered once, not handed over on every wait.
#pragma once

#include <cstddef>
#include <vector>

#include "net/Socket.h"

#ifdef __linux__
#include <sys/epoll.h>
#endif

/// A ready socket: the index it was watched under and what it is ready for.
struct ReadyEvent {
    std::size_t index = 0;
    bool readable = false;  // data, end of stream or an error is waiting
    bool writable = false;
};

/// The sockets an event loop waits on, each under an index of the caller's. On Linux an epoll
/// set (the kernel keeps the list between waits); elsewhere poll over the watched sockets.
class ReadySet {
public:
    ReadySet();
    ~ReadySet();
    ReadySet(const ReadySet&) = delete;
    ReadySet& operator=(const ReadySet&) = delete;

    /// Watches socket (always for reading; for writing too when wantWrite), or changes what it
    /// is watched for. A closed socket must be dropped with Forget before its index is reused.
    void Watch(NativeSocket socket, std::size_t index, bool wantWrite);
    /// Stops watching the socket of index (before or after it is closed).
    void Forget(std::size_t index);
    /// Waits at most timeoutMs; the ready sockets in ready (cleared first). The count, or -1.
    int Wait(int timeoutMs, std::vector<ReadyEvent>& ready);

private:
    struct Entry {
        NativeSocket socket = kNoSocket;
        bool wantWrite = false;
    };
    std::vector<Entry> m_entries;  // by index
#ifdef __linux__
    int m_epoll = -1;
    std::vector<epoll_event> m_events;
#else
    std::vector<PollItem> m_items;
    std::vector<std::size_t> m_indexes;
#endif
};
