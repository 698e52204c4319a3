// The tests' one TCP listener on 127.0.0.1: an ephemeral port, one connection served in a thread.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

/// Bound of every wait in the listener.
inline constexpr int kListenerWaitMs = 5000;

/// A loopback port that was free a moment ago: bound, read back and closed again, so nothing
/// listens on it.
inline std::string FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return std::to_string(ntohs(a.sin_port));
}

/// What the listener does with its one connection.
struct ListenerBehaviour {
    std::size_t readBytes = 0;       // read this many bytes (or until the client closes)
    // then send these, a short pause between them
    std::vector<std::vector<std::uint8_t>> replyPieces;
    bool closeAfterReply = false;    // then close at once, or wait for the client to close
    bool resetAfterReply = false;    // then reset the connection
};

/// A TCP listener on 127.0.0.1 with an ephemeral port, serving one connection in a thread.
class LoopbackListener {
public:
    explicit LoopbackListener(ListenerBehaviour behaviour) : m_behaviour(std::move(behaviour)) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_fd, 1) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
        }
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    ~LoopbackListener() {
        Join();
        close(m_fd);
    }

    [[nodiscard]] std::string Port() const { return std::to_string(m_port); }
    /// Waits for the connection to end and returns what the listener received.
    const std::vector<std::uint8_t>& Received() {
        Join();
        return m_received;
    }
    bool SawClientClose() {
        Join();
        return m_clientClosed;
    }

private:
    static bool Wait(int fd, short events) {
        pollfd p{fd, events, 0};
        return poll(&p, 1, kListenerWaitMs) == 1;
    }
    void Serve() {
        if (!Wait(m_fd, POLLIN)) return;
        const int c = accept(m_fd, nullptr, nullptr);
        if (c < 0) return;
        std::uint8_t buf[4096];
        while (m_received.size() < m_behaviour.readBytes && Wait(c, POLLIN)) {
            const ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) {
                m_clientClosed = n == 0;
                break;
            }
            m_received.insert(m_received.end(), buf, buf + n);
        }
        for (const auto& piece : m_behaviour.replyPieces) {
            send(c, piece.data(), piece.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        if (m_behaviour.resetAfterReply) {
            const linger reset{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        } else if (!m_behaviour.closeAfterReply) {
            // Keep the connection open until the client closes it (bounded).
            while (!m_clientClosed && Wait(c, POLLIN)) {
                const ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0) m_clientClosed = n == 0;
                if (n <= 0) break;
                m_received.insert(m_received.end(), buf, buf + n);
            }
        }
        close(c);
    }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }

    ListenerBehaviour m_behaviour;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::vector<std::uint8_t> m_received;
    bool m_clientClosed = false;
    std::thread m_thread;
};
