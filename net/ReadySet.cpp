// Sockets watched for readiness: epoll on Linux, poll elsewhere.
#include "net/ReadySet.h"

#ifdef __linux__
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#endif

ReadySet::ReadySet() {
#ifdef __linux__
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
#endif
}

ReadySet::~ReadySet() {
#ifdef __linux__
    if (m_epoll >= 0) close(m_epoll);
#endif
}

void ReadySet::Watch(NativeSocket socket, std::size_t index, bool wantWrite) {
    if (index >= m_entries.size()) m_entries.resize(index + 1);
    Entry& e = m_entries[index];
    const bool known = e.socket == socket && socket != kNoSocket;
    if (known && e.wantWrite == wantWrite) return;
#ifdef __linux__
    epoll_event ev{};
    ev.events = EPOLLIN | (wantWrite ? EPOLLOUT : 0u);
    ev.data.u64 = index;
    if (!known && e.socket != kNoSocket) (void)epoll_ctl(m_epoll, EPOLL_CTL_DEL, e.socket, nullptr);
    (void)epoll_ctl(m_epoll, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &ev);
#endif
    e.socket = socket;
    e.wantWrite = wantWrite;
}

void ReadySet::Forget(std::size_t index) {
    if (index >= m_entries.size() || m_entries[index].socket == kNoSocket) return;
#ifdef __linux__
    // A socket already closed has left the set by itself; the call then fails harmlessly.
    (void)epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_entries[index].socket, nullptr);
#endif
    m_entries[index] = Entry{};
}

int ReadySet::Wait(int timeoutMs, std::vector<ReadyEvent>& ready) {
    ready.clear();
#ifdef __linux__
    if (m_epoll < 0) return -1;
    const std::size_t room = std::max<std::size_t>(m_entries.size(), 1);
    if (m_events.size() < room) m_events.resize(room);
    int n;
    do {
        n = epoll_wait(m_epoll, m_events.data(), static_cast<int>(room), timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    for (int i = 0; i < n; ++i) {
        const epoll_event& ev = m_events[static_cast<std::size_t>(i)];
        ready.push_back({static_cast<std::size_t>(ev.data.u64),
                         (ev.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0,
                         (ev.events & (EPOLLOUT | EPOLLERR)) != 0});
    }
    return n;
#else
    m_items.clear();
    m_indexes.clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].socket == kNoSocket) continue;
        m_items.push_back({m_entries[i].socket, true, m_entries[i].wantWrite});
        m_indexes.push_back(i);
    }
    const int n = PollSockets(m_items, timeoutMs);
    if (n <= 0) return n;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].readable || m_items[i].writable) {
            ready.push_back({m_indexes[i], m_items[i].readable, m_items[i].writable});
        }
    }
    return static_cast<int>(ready.size());
#endif
}
