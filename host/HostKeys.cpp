// The simulated host's keys: MACs checked and computed, working keys handed out at sign-in.
#include "host/HostKeys.h"

#include "iso/MessageKeys.h"

KeySet HostKeys::KeysOf(const std::string& terminal) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_terminals.find(terminal);
    return it != m_terminals.end() ? it->second : m_base;
}

void HostKeys::CheckRequest(Message& m, std::span<const std::uint8_t> bytes, Step& step) {
    step.terminal = FieldDigits(m, 41) + "/" + FieldDigits(m, 42);
    const KeySet keys = KeysOf(step.terminal);
    step.replyAlgorithm = MessageMacAlgorithm(m.Table(), keys).value_or(kMacAlgorithms[0]);
    MacCheck check;
    CheckMessageMac(m, bytes, keys, check);
    if (!check.done) return;
    if (check.match) {
        if (const auto alg = MacAlgorithmFromName(check.algorithm)) step.replyAlgorithm = *alg;
        return;
    }
    step.macWrong = true;
    step.note = "MAC错误: 报文 " + check.given + ", 计算 ";
    if (check.tried.empty()) {
        step.note += check.computed;
    } else {
        for (std::size_t i = 0; i < check.tried.size(); ++i) {
            if (i > 0) step.note += ", ";
            step.note += check.tried[i].first + " " + check.tried[i].second;
        }
    }
}

bool HostKeys::SignIn(Message& m, std::string_view requestType, std::string_view code,
                      Step& step) {
    if (requestType != "0800") return true;
    const std::optional<SignInLayout> layout = SignInLayoutOf(code);
    if (!layout) return true;  // a sign-in that asks for no working keys
    KeySet working = KeysOf(step.terminal);
    working.tdk.Wipe();
    std::vector<std::uint8_t> field;
    std::string problem;
    if (!MakeSignInKeys(m_base.tmk, *layout, working, field, problem)) {
        step.note = "签到: " + problem;
        return false;
    }
    if (const EncodeStatus st = m.Set(kWorkingKeysField, field); !st.ok) {
        step.note = "签到: " + st.reason;
        return false;
    }
    step.note = "签到: 新工作密钥 (60.3 " + std::string(code) + ")";
    const std::lock_guard lock(m_mutex);
    m_terminals.insert_or_assign(step.terminal, std::move(working));
    return true;
}

void HostKeys::MacAnswer(Message& m, std::vector<std::uint8_t>& reply, const Step& step) {
    const KeySet keys = KeysOf(step.terminal);
    if (keys.mak.Empty()) return;
    const auto n = static_cast<std::int32_t>(reply.size());
    if (m.Decode(reply.data(), n, reply.size(), LengthRule::Match, DecodeContext{}) < 0) return;
    // An answer without a MAC field, or a MAK the algorithm does not take, goes as it is.
    (void)FillMacBytes(m, reply, keys.mak, step.replyAlgorithm);
}
