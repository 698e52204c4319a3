// TCP client socket calls: the only file that talks to the platform's socket interface.
#include "net/Socket.h"

#include <chrono>
#include <cstring>
#include <system_error>

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
int PollSockets(WSAPOLLFD* fds, ULONG n, int timeoutMs) { return WSAPoll(fds, n, timeoutMs); }
using PollFd = WSAPOLLFD;
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
int PollSockets(pollfd* fds, nfds_t n, int timeoutMs) { return poll(fds, n, timeoutMs); }
using PollFd = pollfd;
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
/// -1 failed (reason in why). Interrupted waits are resumed with the time that is left.
int WaitFor(NativeSocket s, short events, Clock::time_point deadline, std::string& why) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        PollFd fd{};
        fd.fd = s;
        fd.events = events;
        const int r = PollSockets(&fd, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r > 0) return 1;
        if (r == 0) {
            if (left <= 0) return 0;
            continue;  // woke early; wait for the rest
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
                           int timeoutMs, std::string* why) {
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
        const int ready = WaitFor(socketOut.Get(), POLLOUT, DeadlineAfter(timeoutMs), reason);
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
                    std::string& why) {
    std::size_t sent = 0;
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
        if (n < 0 && WouldBlock(e)) {
            // The peer is not reading and the send buffer is full: wait for room, bounded.
            const int ready = WaitFor(socket.Get(), POLLOUT, DeadlineAfter(timeoutMs), why);
            if (ready == 1) continue;
            if (ready == 0) why = "send timed out: the host does not take the data";
            return sent;
        }
        why = n == 0 ? "send made no progress" : ErrorText(e);
        return sent;
    }
    return sent;
}

ReceiveStatus ReceiveSome(SocketHandle& socket, std::span<std::uint8_t> buffer, int timeoutMs,
                          std::size_t& received, std::string& why) {
    received = 0;
    const auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        const int ready = WaitFor(socket.Get(), POLLIN, deadline, why);
        if (ready == 0) return ReceiveStatus::TimedOut;
        if (ready < 0) return ReceiveStatus::Failed;
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
        if (Interrupted(e) || WouldBlock(e)) continue;
        why = ErrorText(e);
        return ReceiveStatus::Failed;
    }
}
