// The simulated host's keys: the MAC of every request checked and of every answer computed, and
// working keys handed out at sign-in, kept per terminal beyond its connection.
#pragma once

#include <map>
#include <mutex>
#include <span>
#include <string>

#include "codec/Message.h"
#include "crypto/KeysFile.h"

/// The response code of an answer to a request whose MAC is wrong.
inline constexpr std::string_view kMacWrongCode = "A0";

class HostKeys {
public:
    explicit HostKeys(const KeySet& keys) : m_base(keys) {}
    HostKeys(const HostKeys&) = delete;
    HostKeys& operator=(const HostKeys&) = delete;

    /// What the keys did to one request and its answer.
    struct Step {
        std::string terminal;   ///< fields 41 and 42
        bool macWrong = false;  ///< the request's MAC did not match: answer kMacWrongCode
        std::string note;       ///< for the log: given and computed values, never a key
        MacAlgorithm replyAlgorithm = MacAlgorithm::UnionPayEcb;
    };

    /// Checks the MAC of the decoded request m (bytes: the request as received) with its
    /// terminal's MAK.
    void CheckRequest(Message& m, std::span<const std::uint8_t> bytes, Step& step);

    /// For a sign-in request (0800 with a 60.3 code of a key layout), answered in m: fresh working
    /// keys under the TMK in field 62, kept for the terminal. False with step.note when the
    /// sign-in asks for keys that cannot be made.
    bool SignIn(Message& m, std::string_view requestType, std::string_view code, Step& step);

    /// Writes the MAC of an encoded answer (as decoded into m) with the terminal's MAK, when the
    /// answer carries a MAC field.
    void MacAnswer(Message& m, std::vector<std::uint8_t>& reply, const Step& step);

private:
    /// The keys the terminal's MACs are computed with: its sign-in's, else the file's.
    [[nodiscard]] KeySet KeysOf(const std::string& terminal) const;

    mutable std::mutex m_mutex;
    KeySet m_base;
    std::map<std::string, KeySet> m_terminals;
};
