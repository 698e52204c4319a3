// TCP client socket calls behind one small interface: POSIX sockets, or Winsock on Windows.
#pragma once

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
[[nodiscard]] std::int32_t ConnectToHost(const char* addressText, std::int32_t port,
                                         SocketHandle& socketOut, int timeoutMs = kConnectTimeoutMs,
                                         std::string* why = nullptr);

/// Sends every byte, continuing partial sends, waiting at most timeoutMs for room each time.
/// Returns the bytes sent; fewer than bytes.size() means failure, with the reason in why.
[[nodiscard]] std::size_t SendAll(SocketHandle& socket, std::span<const std::uint8_t> bytes,
                                  int timeoutMs, std::string& why);

enum class ReceiveStatus { Data, Closed, TimedOut, Failed };

/// Waits at most timeoutMs for bytes and reads what is there into buffer (received = count).
[[nodiscard]] ReceiveStatus ReceiveSome(SocketHandle& socket, std::span<std::uint8_t> buffer,
                                        int timeoutMs, std::size_t& received, std::string& why);
