// TCP client socket calls: the only file that talks to the platform's socket interface.
#include "net/Socket.h"

#include <chrono>
#include <cstring>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

bool g_socketsStarted = false;

namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
int LastError() { return WSAGetLastError(); }
bool Interrupted(int e) { return e == WSAEINTR; }
bool WouldBlock(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
int PollNative(WSAPOLLFD* fds, ULONG n, int timeoutMs) { return WSAPoll(fds, n, timeoutMs); }
bool WasReset(int e) { return e == WSAECONNRESET || e == WSAECONNABORTED; }
using AddressLength = int;
using PollFd = WSAPOLLFD;
using PollCount = ULONG;
constexpr int kSendFlags = 0;
void CloseNative(NativeSocket s) {
    shutdown(s, SD_BOTH);
    closesocket(s);
}
bool SetNonBlocking(NativeSocket s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
bool StartSockets() {
    if (g_socketsStarted) return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
    g_socketsStarted = true;
    return true;
}
#else
int LastError() { return errno; }
bool Interrupted(int e) { return e == EINTR; }
bool WouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS; }
int PollNative(pollfd* fds, nfds_t n, int timeoutMs) { return poll(fds, n, timeoutMs); }
bool WasReset(int e) { return e == ECONNRESET || e == ECONNABORTED; }
using AddressLength = socklen_t;
using PollFd = pollfd;
using PollCount = nfds_t;
// A peer that resets the connection must give an error, not a SIGPIPE that ends the process.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif
void CloseNative(NativeSocket s) {
    shutdown(s, SHUT_RDWR);
    close(s);
}
bool SetNonBlocking(NativeSocket s) {
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return false;
#ifdef SO_NOSIGPIPE
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    return true;
}
bool StartSockets() { return true; }  // POSIX sockets need no start-up
#endif

std::string ErrorText(int code) { return std::system_category().message(code); }

/// Waits until the socket is ready for events or the deadline passes; 1 ready, 0 timed out,
/// -1 failed (reason in why), -2 cancelled. Interrupted waits are resumed with the time that is
/// left; with a cancel flag the wait goes in slices so that the flag is seen in time.
int WaitFor(NativeSocket s, short events, Clock::time_point deadline, std::string& why,
            const CancelFlag* cancel = nullptr) {
    for (;;) {
        if (cancel != nullptr && cancel->load()) {
            why = "cancelled";
            return -2;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const bool sliced = cancel != nullptr && left > kCancelPollMs;
        if (sliced) left = kCancelPollMs;
        PollFd fd{};
        fd.fd = s;
        fd.events = events;
        const int r = PollNative(&fd, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r > 0) return 1;
        if (r == 0) {
            if (left <= 0) return 0;
            continue;  // woke early, or one slice passed; wait for the rest
        }
        const int e = LastError();
        if (Interrupted(e)) continue;
        why = ErrorText(e);
        return -1;
    }
}

Clock::time_point DeadlineAfter(int timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
}

}  // namespace

void SocketHandle::Close() {
    if (m_socket == kNoSocket) return;
    CloseNative(m_socket);
    m_socket = kNoSocket;
}

std::int32_t ConnectToHost(const char* addressText, std::int32_t port, SocketHandle& socketOut,
                           int timeoutMs, std::string* why, const CancelFlag* cancel) {
    std::string reason;
    const auto fail = [&](std::int32_t code) {
        socketOut.Close();
        if (why != nullptr) *why = reason;
        return code;
    };
    if (!StartSockets()) {
        reason = "socket library start-up failed";
        return fail(kConnectStartFailed);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    // The address text is always dotted decimal: no name service is asked, so nothing blocks.
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    const int gai = getaddrinfo(addressText, nullptr, &hints, &found);
    if (gai != 0 || found == nullptr) {
        reason = std::string("cannot resolve ") + addressText + ": " + gai_strerror(gai);
        return fail(kConnectResolveFailed);
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));

    socketOut.Reset(socket(AF_INET, SOCK_STREAM, 0));
    if (!socketOut.Open()) {
        reason = ErrorText(LastError());
        return fail(kConnectStartFailed);
    }
    if (!SetNonBlocking(socketOut.Get())) {
        reason = ErrorText(LastError());
        return fail(kConnectStartFailed);
    }
    // Non-blocking connect and a bounded wait, so an unreachable host cannot block for minutes.
    if (connect(socketOut.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        const int e = LastError();
        if (!WouldBlock(e) && !Interrupted(e)) {
            reason = ErrorText(e);
            return fail(kConnectFailed);
        }
        const int ready =
            WaitFor(socketOut.Get(), POLLOUT, DeadlineAfter(timeoutMs), reason, cancel);
        if (ready == 0) reason = "connection timed out";
        if (ready != 1) return fail(kConnectFailed);
        int soError = 0;
        socklen_t len = sizeof soError;
        if (getsockopt(socketOut.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                       &len) != 0) {
            soError = LastError();
        }
        if (soError != 0) {
            reason = ErrorText(soError);
            return fail(kConnectFailed);
        }
    }
    return kConnectOk;
}

std::size_t SendAll(SocketHandle& socket, std::span<const std::uint8_t> bytes, int timeoutMs,
                    std::string& why, const CancelFlag* cancel) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        std::size_t now = 0;
        const bool ok = SendSome(socket, bytes.subspan(sent), now, why);
        sent += now;
        if (!ok || sent == bytes.size()) return sent;
        // The peer is not reading and the send buffer is full: wait for room, bounded.
        const int ready = WaitFor(socket.Get(), POLLOUT, DeadlineAfter(timeoutMs), why, cancel);
        if (ready == 1) continue;
        if (ready == 0) why = "send timed out: the host does not take the data";
        return sent;
    }
    return sent;
}

ReceiveStatus ReceiveSome(SocketHandle& socket, std::span<std::uint8_t> buffer, int timeoutMs,
                          std::size_t& received, std::string& why, const CancelFlag* cancel) {
    received = 0;
    const auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        const int ready = WaitFor(socket.Get(), POLLIN, deadline, why, cancel);
        if (ready == 0) return ReceiveStatus::TimedOut;
        if (ready == -2) return ReceiveStatus::Cancelled;
        if (ready < 0) return ReceiveStatus::Failed;
        const ReceiveStatus status = ReceiveNow(socket, buffer, received, why);
        // Ready but nothing to read (a spurious wake-up): wait again unless only what had
        // already arrived was asked for.
        if (status == ReceiveStatus::TimedOut && timeoutMs > 0) continue;
        return status;
    }
}

ReceiveStatus ReceiveNow(SocketHandle& socket, std::span<std::uint8_t> buffer,
                         std::size_t& received, std::string& why) {
    received = 0;
    for (;;) {
#ifdef _WIN32
        const int n = recv(socket.Get(), reinterpret_cast<char*>(buffer.data()),
                           static_cast<int>(buffer.size()), 0);
#else
        const ssize_t n = recv(socket.Get(), buffer.data(), buffer.size(), 0);
#endif
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return ReceiveStatus::Data;
        }
        if (n == 0) return ReceiveStatus::Closed;
        const int e = LastError();
        if (Interrupted(e)) continue;
        if (WouldBlock(e)) return ReceiveStatus::TimedOut;
        why = ErrorText(e);
        return WasReset(e) ? ReceiveStatus::Reset : ReceiveStatus::Failed;
    }
}

bool SendSome(SocketHandle& socket, std::span<const std::uint8_t> bytes, std::size_t& sent,
              std::string& why) {
    sent = 0;
    while (sent < bytes.size()) {
        const auto* data = reinterpret_cast<const char*>(bytes.data() + sent);
        const std::size_t left = bytes.size() - sent;
#ifdef _WIN32
        const int n = send(socket.Get(), data, static_cast<int>(left), kSendFlags);
#else
        const ssize_t n = send(socket.Get(), data, left, kSendFlags);
#endif
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int e = LastError();
        if (n < 0 && Interrupted(e)) continue;
        if (n < 0 && WouldBlock(e)) return true;  // the rest goes when there is room
        why = n == 0 ? "send made no progress" : ErrorText(e);
        return false;
    }
    return true;
}

bool ListenSocket::Open(const char* addressText, std::uint16_t port, std::string& why) {
    if (!StartSockets()) {
        why = "socket library start-up failed";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, addressText, &address.sin_addr) != 1) {
        why = std::string("not an IPv4 address: ") + addressText;
        return false;
    }
    m_socket.Reset(socket(AF_INET, SOCK_STREAM, 0));
    if (!m_socket.Open()) {
        why = ErrorText(LastError());
        return false;
    }
#ifndef _WIN32
    // A restarted simulator may take its port again while old connections linger in TIME_WAIT.
    int on = 1;
    setsockopt(m_socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (bind(m_socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_socket.Get(), SOMAXCONN) != 0 || !SetNonBlocking(m_socket.Get())) {
        why = ErrorText(LastError());
        m_socket.Close();
        return false;
    }
    return true;
}

std::uint16_t ListenSocket::Port() const {
    if (!m_socket.Open()) return 0;
    sockaddr_in address{};
    AddressLength len = sizeof address;
    if (getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), &len) != 0) return 0;
    return ntohs(address.sin_port);
}

bool ListenSocket::Accept(SocketHandle& connection, std::string& peer) {
    sockaddr_in address{};
    AddressLength len = sizeof address;
    for (;;) {
        const NativeSocket s = accept(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), &len);
        if (s == kNoSocket) {
            if (Interrupted(LastError())) continue;
            return false;  // none waiting, or one that went away before it was taken
        }
        connection.Reset(s);
        break;
    }
    if (!SetNonBlocking(connection.Get())) {
        connection.Close();
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    peer = std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
    return true;
}

int PollSockets(std::span<PollItem> items, int timeoutMs) {
    std::vector<PollFd> fds(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = items[i].socket;
        fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) |
                                           (items[i].wantWrite ? POLLOUT : 0));
    }
    int r;
    do {
        r = PollNative(fds.data(), static_cast<PollCount>(fds.size()), timeoutMs);
    } while (r < 0 && Interrupted(LastError()));
    if (r < 0) return -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const short got = fds[i].revents;
        items[i].readable = (got & (POLLIN | POLLHUP | POLLERR)) != 0;
        items[i].writable = (got & (POLLOUT | POLLERR)) != 0;
    }
    return r;
}
