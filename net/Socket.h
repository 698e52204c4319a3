// TCP client socket calls behind one small interface: POSIX sockets, or Winsock on Windows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
using NativeSocket = SOCKET;
inline constexpr NativeSocket kNoSocket = INVALID_SOCKET;
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
#endif

/// Result codes of ConnectToHost.
inline constexpr std::int32_t kConnectOk = 0;
inline constexpr std::int32_t kConnectStartFailed = -66;    // socket library or socket creation
inline constexpr std::int32_t kConnectResolveFailed = -86;  // address text does not resolve
inline constexpr std::int32_t kConnectFailed = -68;         // refused, unreachable or timed out

/// How long a connection attempt may take before it counts as failed.
inline constexpr int kConnectTimeoutMs = 3000;

/// Set by another thread to stop a connect, send or receive; every wait looks at it at least
/// every kCancelPollMs.
using CancelFlag = std::atomic<bool>;
inline constexpr int kCancelPollMs = 50;

/// Set once the platform's socket library has been started (Windows); never cleared.
extern bool g_socketsStarted;

/// Owns one socket: shut down in both directions and closed on every path.
class SocketHandle {
public:
    SocketHandle() = default;
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    ~SocketHandle() { Close(); }

    void Reset(NativeSocket s) {
        Close();
        m_socket = s;
    }
    void Close();
    [[nodiscard]] bool Open() const { return m_socket != kNoSocket; }
    [[nodiscard]] NativeSocket Get() const { return m_socket; }

private:
    NativeSocket m_socket = kNoSocket;
};

/// Connects to addressText (dotted IPv4; names are not looked up) at the low 16 bits of port,
/// waiting at most timeoutMs. socketOut receives the socket as soon as it exists and is closed on
/// failure. Returns kConnectOk, kConnectStartFailed, kConnectResolveFailed or kConnectFailed; why
/// holds the system's reason on failure.
/// A cancelled attempt gives kConnectFailed with why "cancelled".
[[nodiscard]] std::int32_t ConnectToHost(const char* addressText, std::int32_t port,
                                         SocketHandle& socketOut, int timeoutMs = kConnectTimeoutMs,
                                         std::string* why = nullptr,
                                         const CancelFlag* cancel = nullptr);

/// Sends every byte, continuing partial sends, waiting at most timeoutMs for room each time.
/// Returns the bytes sent; fewer than bytes.size() means failure, with the reason in why.
[[nodiscard]] std::size_t SendAll(SocketHandle& socket, std::span<const std::uint8_t> bytes,
                                  int timeoutMs, std::string& why,
                                  const CancelFlag* cancel = nullptr);

/// Reset: the peer reset the connection; Failed: any other error (reason in why).
enum class ReceiveStatus { Data, Closed, TimedOut, Reset, Failed, Cancelled };

/// Waits at most timeoutMs for bytes and reads what is there into buffer (received = count).
/// A timeoutMs of 0 only takes what has already arrived.
[[nodiscard]] ReceiveStatus ReceiveSome(SocketHandle& socket, std::span<std::uint8_t> buffer,
                                        int timeoutMs, std::size_t& received, std::string& why,
                                        const CancelFlag* cancel = nullptr);

/// Reads what has already arrived, without waiting: Data (received > 0), TimedOut when nothing
/// is there, Closed, Reset or Failed (reason in why).
[[nodiscard]] ReceiveStatus ReceiveNow(SocketHandle& socket, std::span<std::uint8_t> buffer,
                                       std::size_t& received, std::string& why);

/// Sends what the socket takes now without waiting; false on failure (reason in why).
[[nodiscard]] bool SendSome(SocketHandle& socket, std::span<const std::uint8_t> bytes,
                            std::size_t& sent, std::string& why);

/// A listening TCP socket on one IPv4 address; accepted connections are non-blocking.
class ListenSocket {
public:
    /// Binds addressText (dotted IPv4) and port (0: an ephemeral port) and listens.
    [[nodiscard]] bool Open(const char* addressText, std::uint16_t port, std::string& why);
    /// The port bound, 0 when not open.
    [[nodiscard]] std::uint16_t Port() const;
    /// Takes one waiting connection; false when none is waiting. peer gets "address:port".
    [[nodiscard]] bool Accept(SocketHandle& connection, std::string& peer);
    [[nodiscard]] NativeSocket Get() const { return m_socket.Get(); }

private:
    SocketHandle m_socket;
};

/// One socket of a PollSockets call: what to wait for, and what it found.
struct PollItem {
    NativeSocket socket = kNoSocket;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;  // data, end of stream or an error is waiting
    bool writable = false;
};

/// Waits at most timeoutMs until one of the sockets is ready; the count ready, or -1.
[[nodiscard]] int PollSockets(std::span<PollItem> items, int timeoutMs);
