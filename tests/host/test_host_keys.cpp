// The simulated host with keys on loopback: a sign-in hands out working keys, a purchase is
// MACed with them both ways, a wrong MAC is answered "A0".
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/FieldTable.h"
#include "host/HostKeys.h"
#include "host/HostServer.h"
#include "iso/MessageKeys.h"
#include "net/SendCommand.h"
#include "tests/common/LoopbackSend.h"
#include "tests/common/TestMessages.h"

namespace {

std::unique_ptr<Message> Decode(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ParseHex(hex, bytes), HexStatus::Ok);
    auto m = std::make_unique<Message>(BuiltinTable(BuiltinForm::kUnionPay64));
    EXPECT_GE(m->Decode(bytes.data(), static_cast<std::int32_t>(bytes.size()), bytes.size(),
                        LengthRule::Match, {}), 0);
    return m;
}

/// The typical message (a purchase) turned into a sign-in of the same terminal asking for double-length keys.
std::string SignInRequest() {
    auto m = Decode(kTypical64);
    EXPECT_TRUE(m->SetText(0, "0800").ok);
    EXPECT_TRUE(m->SetText(60, "00000001003").ok);
    for (int f : {2, 3, 4, 22, 25, 35, 49, 64}) m->Clear(f);
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(m->Encode(out).ok);
    return ToHex(out);
}

std::string Exchange(std::uint16_t port, std::string_view hex) {
    const std::string portText = std::to_string(port);  // the request only views it
    const CommandResult result = SendMessageText(LoopbackRequest(portText, hex, 5000));
    EXPECT_EQ(result.send.ended, ReplyEnd::Complete) << result.detail;
    return ToHex(result.send.reply);
}

TEST(HostKeysOnLoopback, SignInThenPurchaseMacedBothWays) {
    KeySet base;
    std::string problem;
    ASSERT_TRUE(ParseKeysJson(
        R"({"tmk":"0123456789ABCDEFFEDCBA9876543210","macAlgorithm":"unionpay-ecb"})", base, problem));
    HostKeys keys(base);
    CancelFlag stop{false};
    std::mutex mutex;
    std::uint16_t port = 0;
    std::vector<std::string> notes;
    ServeOptions o;
    o.form = SimForm::Iso64;
    o.keys = &keys;
    o.count = 3;
    o.stop = &stop;
    o.listening = [&](std::uint16_t p) {
        const std::lock_guard lock(mutex);
        port = p;
    };
    o.log = [&](const ServeRecord& r) {
        const std::lock_guard lock(mutex);
        notes.push_back(r.exchange != nullptr ? r.exchange->keyNote : std::string(r.error));
    };
    std::string why;
    std::thread server([&] { EXPECT_TRUE(ServeHost(o, why)) << why; });
    // A failed assertion below still stops and joins the server.
    struct Joiner {
        CancelFlag& stop;
        std::thread& thread;
        ~Joiner() {
            stop = true;
            if (thread.joinable()) thread.join();
        }
    } joiner{stop, server};
    for (int i = 0; i < 200; ++i) {
        {
            const std::lock_guard lock(mutex);
            if (port != 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // Sign-in: the reply's working keys open under the TMK with matching check values.
    MessageChecks signIn;
    CheckTextKeys(Exchange(port, SignInRequest()), ParseRequest{}, base, signIn);
    ASSERT_TRUE(signIn.signIn.done);
    ASSERT_EQ(signIn.signIn.keys.size(), 2u);
    EXPECT_TRUE(signIn.signIn.keys[0].match && signIn.signIn.keys[1].match);
    KeySet terminal;
    terminal.mak = signIn.signIn.keys[1].key;
    terminal.macAlgorithm = MacAlgorithm::UnionPayEcb;

    // A purchase on a new connection, MACed with the new MAK: answered "00" with a right MAC.
    std::string purchase(kTypical64);
    ASSERT_TRUE(FillMessageMac(purchase, ParseRequest{}, terminal, problem)) << problem;
    const std::string reply = Exchange(port, purchase);
    MessageChecks answered;
    CheckTextKeys(reply, ParseRequest{}, terminal, answered);
    EXPECT_TRUE(answered.mac.done && answered.mac.match);
    EXPECT_EQ(FieldDigits(*Decode(reply), 39), "00");

    // The same purchase MACed with the file's keys (none) is wrong: "A0", the values logged.
    std::string wrong = purchase;
    wrong[wrong.size() - 1] = wrong.back() == '0' ? '1' : '0';
    EXPECT_EQ(FieldDigits(*Decode(Exchange(port, wrong)), 39), "A0");
    server.join();  // the count of 3 ends it
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_NE(notes[0].find("003"), std::string::npos);
    EXPECT_TRUE(notes[1].empty()) << notes[1];
    EXPECT_NE(notes[2].find("MAC错误: 报文 "), std::string::npos);
    const std::string mak = ToHex(terminal.mak.Bytes());
    for (const std::string& n : notes) EXPECT_EQ(n.find(mak), std::string::npos);
}

}  // namespace
