// The command line's parts in-process: line splitting of the batch mode, rendering, arguments,
// and send against a listener on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/Cli.h"
#include "tests/common/CliRun.h"
#include "cli/EachLine.h"
#include "cli/Output.h"
#include "codec/Texts.h"
#include "tests/common/LoopbackListener.h"
#include "tests/common/TestMessages.h"

namespace {

// A stand-in parse command: "fail" fails, "none" finds no length, anything else gives one row
// holding the line, so the tests see exactly which texts the batch loop hands on.
void EchoCommand(std::string_view text, CommandResult& result) {
    result.Reset();
    if (text == "fail") return result.Fail(kTextIsoParseError, "detail");
    if (text == "none") {
        result.outcome = Outcome::NoLengthMatch;
        return;
    }
    result.rows.emplace_back();
    SetRowText(result.rows.back().name, "1");
    SetRowText(result.rows.back().length, std::to_string(text.size()));
    SetRowText(result.rows.back().value, text.substr(0, 1000));
}

std::string Batch(std::string_view input, std::size_t chunk) {
    EachLineJson batch(EchoCommand);
    std::string out;
    for (std::size_t at = 0; at < input.size(); at += chunk) {
        batch.Feed(input.substr(at, chunk), out);
    }
    batch.Finish(out);
    return out;
}

// Every input line gives one output line, blank lines included.
TEST(EachLine, LinesInAnyChunkingGiveTheSameJsonLines) {
    const std::string input = "ab\r\n\n\r\nfail\nnone\n  \nq\"\\\x01\nlast";
    const std::string expected = R"({"rows":[{"name":"1","length":"2","value":"ab"}]})"
                                 "\n"
                                 R"({"rows":[{"name":"1","length":"0","value":""}]})"
                                 "\n"
                                 R"({"rows":[{"name":"1","length":"0","value":""}]})"
                                 "\n"
                                 R"({"error":"iso8583报文解析出错!"})"
                                 "\n"
                                 R"({"error":null,"status":3})"
                                 "\n"
                                 // White space alone is an empty text.
                                 R"({"rows":[{"name":"1","length":"0","value":""}]})"
                                 "\n"
                                 R"({"rows":[{"name":"1","length":"4","value":"q\"\\\u0001"}]})"
                                 "\n"
                                 R"({"rows":[{"name":"1","length":"4","value":"last"}]})"
                                 "\n";
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, input.size()}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(Batch(input, chunk), expected);
    }
}

TEST(EachLine, LineWithoutEndIsKeptBoundedAndStillRefusable) {
    // A line far over the longest message text reaches the command one character too long, so
    // the command refuses it; memory stays bounded however long the line.
    const std::string input = std::string(50000, '7') + "\nab\n";
    for (std::size_t chunk : {std::size_t{999}, input.size()}) {
        SCOPED_TRACE(chunk);
        const std::string out = Batch(input, chunk);
        const std::string longLine = R"("length":")" + std::to_string(kMaxMessageText + 1) + '"';
        EXPECT_NE(out.find(longLine), std::string::npos);
        EXPECT_NE(out.find(R"("value":"ab")"), std::string::npos);
    }
}

TEST(EachLine, EveryFailureNamesItsReasonAndLeavesOutWhatIsUnknown) {
    EachLineJson batch(EachLineOptions{});
    std::string out;
    batch.Feed(std::string(kMaxMessageText + 500, '0') + "\n \t \n0002FFFF\n", out);
    const std::string lines[] = {
        R"({"error":"iso8583报文解析出错!","reason":"the line is longer than 10239 characters"})",
        R"({"error":"报文为空!"})",  // white space alone is an empty text
        // A failure before field 1 names no field.
        R"({"error":"iso8583报文解析出错!","offset":0,"reason":"message of 4 bytes is shorter )"
        R"(than 13 bytes","rows":[]})"};
    EXPECT_EQ(out, lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
}

TEST(Output, DisplayWidth) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},         {"Bit 41", 6},    {"域", 2},           {"参数值", 6},
        {"中文1234", 8}, {"e\xCC\x81", 1}, {"\xEF\xBF\xBD", 1}, {"\xEF\xBC\xA1", 2},  // Ａ
    };
    for (const auto& [text, width] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(DisplayWidth(text), width);
    }
}

TEST(Output, TableAlignsByDisplayWidthAndHidesControlCharacters) {
    FieldRowList rows(3);
    SetRowText(rows[0].name, "名称");
    SetRowText(rows[0].length, "10");
    SetRowText(rows[0].value, "中文");
    SetRowText(rows[1].name, "amount");
    SetRowText(rows[1].length, "3");
    SetRowText(rows[1].value, "1\x1B[2J\n");
    SetRowText(rows[2].name, "a");
    SetRowText(rows[2].length, "12345");
    SetRowText(rows[2].value, "");
    const std::string table = FormatRowsTable(rows, TextEncoding::Utf8OrGbk);
    EXPECT_EQ(table,
              "域      长度   参数值\n"
              "名称    10     中文\n"
              "amount  3      1.[2J.\n"
              "a       12345  \n");
}

TEST(Output, JsonTextMatchesDecodeThenEscape) {
    std::string scratch;
    for (int a = 0; a < 256; ++a) {
        for (const std::string tail : {"", "x", "\xD6\xD0"}) {
            const std::string bytes = std::string(1, static_cast<char>(a)) + tail;
            std::string fast;
            AppendJsonText(fast, bytes, TextEncoding::Gbk, scratch);
            std::string reference;
            AppendJsonString(reference, ToUtf8(bytes, TextEncoding::Gbk));
            ASSERT_EQ(fast, reference) << a;
        }
    }
}

TEST(Output, RowsJsonMatchesDecodeThenEscapeAtEveryPosition) {
    // Texts are checked eight bytes at a time: put each kind of byte in every lane.
    std::string scratch;
    for (const char special : {'"', '\\', '\x01', '\x1F', ' ', '\x7F', '\x80', '\xD6', '\xFF'}) {
        for (std::size_t at = 0; at < 20; ++at) {
            std::string text(20, 'A');
            text[at] = special;
            SCOPED_TRACE(testing::Message()
                         << int(static_cast<unsigned char>(special)) << " at " << at);
            FieldRowList rows(1);
            SetRowText(rows[0].name, "n");
            SetRowText(rows[0].length, "20");
            SetRowText(rows[0].value, text);
            std::string json;
            AppendRowsJson(json, rows, TextEncoding::Gbk, scratch);
            std::string expected = R"([{"name":"n","length":"20","value":)";
            AppendJsonString(expected, ToUtf8(text, TextEncoding::Gbk));
            expected += "}]";
            EXPECT_EQ(json, expected);
        }
    }
}


std::string FirstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

TEST(Cli, UsageErrorsAndChecks) {
    const struct {
        std::vector<const char*> args;
        int status;
        std::string firstErrLine;
    } cases[] = {
        {{}, kExitUsage, "usage: tarnwick-cli COMMAND [OPTIONS] [ARGUMENT]"},
        {{"parse-iso8583", "--format", "xml", "00"},
         kExitUsage,
         "tarnwick-cli parse-iso8583: --format must be table or json"},
        {{"parse-iso8583", "--mode"},
         kExitUsage,
         "tarnwick-cli parse-iso8583: --mode needs a value"},
        {{"parse-iso8583", "a", "b"}, kExitUsage, "tarnwick-cli parse-iso8583: too many arguments"},
        {{"parse-iso8583", "-x"}, kExitUsage, "tarnwick-cli parse-iso8583: unknown option '-x'"},
        {{"parse-trade", "--mode", "64"},
         kExitUsage,
         "tarnwick-cli parse-trade: unknown option '--mode'"},
        {{"parse-trade", "--each-line=1"},
         kExitUsage,
         "tarnwick-cli parse-trade: --each-line takes no value"},
        {{"parse-trade", "--each-line", "--format", "table"},
         kExitUsage,
         "tarnwick-cli parse-trade: --each-line writes JSON lines; --format table does not apply"},
        {{"build-json", "--format", "table", "x.json"},
         kExitUsage,
         "tarnwick-cli build-json: --format must be text or json"},
        {{"send", "--ip", "256.0.0.1", "--port", "1", "00"},
         kExitUsage,
         "tarnwick-cli send: --ip must be an IPv4 address A.B.C.D (fields 0..255)"},
        {{"send", "--ip", "1.2.3.4.5", "--port", "1", "00"},
         kExitUsage,
         "tarnwick-cli send: --ip must be an IPv4 address A.B.C.D (fields 0..255)"},
        {{"send", "--ip", "1.2.x.4", "--port", "1", "00"},
         kExitUsage,
         "tarnwick-cli send: --ip must be an IPv4 address A.B.C.D (fields 0..255)"},
        {{"send", "--ip", "127.0.0.1", "--timeout-ms", "-5", "--port", "1"},
         kExitUsage,
         "tarnwick-cli send: --timeout-ms must be a number of milliseconds, 0 or more"},
        // The dialog's checks, in its order; the message text is not even read before them.
        {{"send"}, kExitFailed, "IP为空!"},
        {{"send", "--ip", "...", "--port", "1", "00"}, kExitFailed, "IP为空!"},
        {{"send", "--ip", "127.0.0.1", "00"}, kExitFailed, "Port为空!"},
        {{"send", "--ip", "127.0.0.1", "--port", ""}, kExitFailed, "Port为空!"},
        {{"send", "--ip", "127.0.0.1", "--port", "1", ""}, kExitFailed, "Send数据为空!"},
        {{"send", "--ip", "127.0.0.1", "--port", "1", "0000F1000000{"},
         kExitFailed,
         "Send数据格式错误!"},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const char* a : c.args) trace.append(a).append(" ");
        SCOPED_TRACE(trace);
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(FirstLine(r.err), c.firstErrLine);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Cli, StandardInputIsBoundedAndLosesOneFinalLineBreak) {
    // A nothing-listening loopback port: a text that passes the length check fails at connect.
    const std::vector<const char*> send = {"send", "--ip", "127.0.0.1", "--port", "1"};
    const std::string longest(kMaxMessageText, '0');
    EXPECT_EQ(FirstLine(Cli(send, longest + "\r\n").err), "建立socket连接异常!");
    EXPECT_EQ(FirstLine(Cli(send, longest + "0").err), "Send数据过长!");
    EXPECT_EQ(FirstLine(Cli(send, std::string(1 << 20, '0')).err), "Send数据过长!");
    EXPECT_EQ(FirstLine(Cli(send, "\n").err), "Send数据为空!");
}

TEST(Cli, HelpAndVersionGoToStandardOutputForEveryCommand) {
    const std::string version = std::string("tarnwick-cli ") + TARNWICK_VERSION + "\n";
    EXPECT_EQ(Cli({"--version"}).out, version);
    for (const char* command :
         {"parse-iso8583", "parse-trade", "parse-json", "decode-tlv", "build-trade", "build-json",
          "build-iso8583", "send", "serve", "tables", "check-table"}) {
        SCOPED_TRACE(command);
        const CliRun r = Cli({command, "--help"});
        EXPECT_EQ(r.status, kExitOk);
        EXPECT_EQ(FirstLine(r.out).rfind(std::string("usage: tarnwick-cli ") + command, 0), 0u);
        EXPECT_EQ(Cli({"help", command}).out, r.out);
        EXPECT_EQ(Cli({command, "-h"}).out, r.out);
        const CliRun v = Cli({command, "--version"});
        EXPECT_EQ(v.status, kExitOk);
        EXPECT_EQ(v.out, version);
    }
}

TEST(Cli, TablesOfSeveralRunsInOneProcessStayApart) {
    // A shipped table by its name or by its file name; then one run after another, on one
    // thread and on several, each with its own table.
    std::string input;
    for (int i = 0; i < 40; ++i) input.append(kTypical64).append("\n");
    std::string first[2];
    for (const char* jobs : {"1", "3", "1"}) {
        SCOPED_TRACE(jobs);
        const char* tables[2] = {"unionpay-pos64.json", "iso8583-1987-binary"};
        for (int t = 0; t < 2; ++t) {
            const CliRun r =
                Cli({"parse-iso8583", "--each-line", "--jobs", jobs, "--table", tables[t]}, input);
            ASSERT_EQ(r.status, kExitOk) << r.err;
            if (first[t].empty()) first[t] = r.out;
            EXPECT_EQ(r.out, first[t]);
        }
    }
    EXPECT_NE(first[0], first[1]);
    EXPECT_EQ(Cli({"parse-iso8583", "--table", "unionpay-pos64"}, kTypical64).out,
              Cli({"parse-iso8583", "--table", "unionpay-pos64.json"}, kTypical64).out);
    const CliRun missing = Cli({"parse-iso8583", "--table", "nosuch", "00"});
    EXPECT_EQ(missing.status, kExitFailed);
    EXPECT_EQ(missing.err,
              "域定义文件有误!\nnosuch: not a shipped table (see tarnwick-cli tables) and not a file\n");
    const std::string dir = testing::TempDir();
    EXPECT_EQ(Cli({"check-table", dir.c_str()}).out,
              dir + ": is a directory, not a table file\n" + dir + ": 1 problem\n");
}

/// Accepts one connection on 127.0.0.1, answers its first bytes with reply and reads on until
/// the client closes (bounded).
ListenerBehaviour AnswerOnce(std::string_view reply) {
    return {1, {std::vector<std::uint8_t>(reply.begin(), reply.end())}, false};
}

std::string ReceivedText(LoopbackListener& host) {
    const auto& bytes = host.Received();
    return std::string(bytes.begin(), bytes.end());
}

TEST(Cli, SendPrintsTheReply) {
    {
        LoopbackListener host(AnswerOnce(std::string("\x00\x02\xAB\xCD", 4)));
        const std::string port = host.Port();
        // Empty IP fields read 0: 127...1 is 127.0.0.1.
        const CliRun r = Cli({"send", "--ip", "127...1", "--port", port.c_str(), "--format", "json",
                              "--timeout-ms", "5000", "01 02 0a"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out,
                  "{\"sent\":3,\"reply\":\"0002ABCD\",\"ended\":\"complete\",\"expected\":4}\n");
        EXPECT_EQ(ReceivedText(host), "\x01\x02\x0A");
    }
    {
        // A packet text on standard input, as build-json prints it: the final line break goes.
        LoopbackListener host(AnswerOnce("0004WXYZ"));
        const std::string port = host.Port();
        const CliRun r =
            Cli({"send", "--ip", "127.0.0.1", "--port", port.c_str()}, "0A00F1000000{ }DD\n");
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out, "303030345758595A\n");
        EXPECT_EQ(ReceivedText(host), std::string("\x0A\x00\xF1\x00\x00\x00{ }\xDD", 10));
    }
}

TEST(Cli, SendSaysHowTheReplyEnded) {
    const std::string announces18("\x00\x10\x01", 3);
    const std::string trade("\x15\x00\xF1\x00\x00\x00\x01\x20\0\0\0\0\0\0\0\0\x03\x41\x42\x43\x86",
                            21);
    const struct {
        const char* name;
        std::string reply;
        std::vector<const char*> extra;
        const char* text;
        int status;
        std::string out;
        std::string firstErrLine;
    } cases[] = {
        {"incomplete: hex and one line",
         announces18,
         {},
         "01",
         kExitOk,
         "001001\n",
         "tarnwick-cli: reply timeout: no complete reply within the time-out, 3 bytes of the 18 "
         "its length announces"},
        {"incomplete with --expect-reply",
         announces18,
         {"--expect-reply"},
         "01",
         kExitFailed,
         "001001\n",
         "tarnwick-cli: reply timeout: no complete reply within the time-out, 3 bytes "
         "of the 18 its length announces"},
        {"json says it, no line",
         announces18,
         {"--format", "json"},
         "01",
         kExitOk,
         "{\"sent\":1,\"reply\":\"001001\",\"ended\":\"timeout\",\"expected\":18}\n",
         ""},
        {"nothing sent",
         "",
         {},
         " \n ",
         kExitOk,
         "",
         "tarnwick-cli: nothing was sent: the message text holds no byte"},
        {"trade reply decoded",
         trade,
         {"--decode", "--expect-reply"},
         "01",
         kExitOk,
         "域     长度  参数值\nCMD    1     01\nBit 1  8     2000000000000000\nBit 3  3     "
         "414243\n",
         ""},
        {"JSON packet reply decoded",
         std::string("\x0E\x00\xF1\x00\x00\x00{\"a\":1}\x93", 14),
         {"--decode"},
         "01",
         kExitOk,
         "域    长度  参数值\na     1     1\n校验  14    93 -> 校验字节与长度正确\n",
         ""},
        {"reply that does not decode: hex and the error",
         std::string("\x00\x02\xAB\xCD", 4),
         {"--decode"},
         "01",
         kExitFailed,
         "0002ABCD\n",
         "iso8583报文解析出错!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackListener host(AnswerOnce(c.reply));
        const std::string port = host.Port();
        std::vector<const char*> args = {"send",      "--ip",         "127.0.0.1", "--port",
                                         port.c_str(), "--timeout-ms", "300"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        args.push_back(c.text);
        const CliRun r = Cli(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(FirstLine(r.err), c.firstErrLine);
    }
}

TEST(Cli, ServeOptionsAndOneExchange) {
    // A FIFO without a writer is refused at once, like every file the program opens.
    const std::string fifo = testing::TempDir() + "tarnwick_rules_fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string never = testing::TempDir() + "tarnwick_rules_never.json";
    std::FILE* f = std::fopen(never.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(R"([{"responseCode":"510"}])", f);
    std::fclose(f);
    const struct {
        std::vector<const char*> args;
        int status;
        std::string firstErrLine;
    } refused[] = {
        {{"serve"}, kExitUsage, "tarnwick-cli serve: --port must be a port number 0..65535"},
        {{"serve", "--port", "0", "--mode", "32"},
         kExitUsage,
         "tarnwick-cli serve: --mode must be auto, 64 or 128"},
        {{"serve", "--port", "0", "--mode", "64", "--trade"},
         kExitUsage,
         "tarnwick-cli serve: --mode and --trade exclude each other"},
        {{"serve", "--port", "0", "--table", "iso8583-1987-ascii"},
         kExitUsage,
         "tarnwick-cli serve: --table iso8583-1987-ascii: the table has no Length part in front "
         "to cut a stream into requests"},
        {{"serve", "--port", "0", "--json", "--trade"},
         kExitUsage,
         "tarnwick-cli serve: --mode, --table, --trade and --json exclude each other"},
        {{"serve", "--port", "0", "--count", "0"},
         kExitUsage,
         "tarnwick-cli serve: --count must be a number of requests, 1 or more"},
        {{"serve", "--port", "0", "--rules", "/nonexistent/rules.json"},
         kExitFailed,
         "tarnwick-cli serve: --rules /nonexistent/rules.json: cannot open "
         "/nonexistent/rules.json"},
        {{"serve", "--port", "0", "--rules", fifo.c_str()},
         kExitFailed,
         "tarnwick-cli serve: --rules " + fifo + ": is a FIFO, not a regular file"},
        {{"serve", "--port", "0", "--mode", "64", "--rules", never.c_str()},
         kExitFailed,
         "tarnwick-cli serve: --rules " + never +
             ": rule 1, field 39: the response code \"510\" is not 2 characters"},
        {{"serve", "--port", "0", "--connection-idle", "0"},
         kExitUsage,
         "tarnwick-cli serve: --connection-idle must be a number of seconds, 1..86400"},
        {{"serve", "--port", "0", "--bind", "192.0.2.1"},
         kExitFailed,
         "tarnwick-cli serve: cannot listen on 192.0.2.1:0: Cannot assign requested address"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.firstErrLine);
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(FirstLine(r.err), c.firstErrLine);
    }
    ::unlink(fifo.c_str());

    // A port just free; the host answers one request and stops.
    const std::string port = FreeLoopbackPort();
    CliRun served;
    std::thread host([&] {
        served = Cli({"serve", "--port", port.c_str(), "--count", "1", "--idle-timeout", "10"});
    });
    const std::string request =
        "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
        "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135"
        "360013220001230005003A4F9C0D12E5B776";
    CliRun sent;
    for (int i = 0; i < 100; ++i) {
        sent = Cli({"send", "--ip", "127.0.0.1", "--port", port.c_str(), "--expect-reply",
                    request.c_str()});
        if (sent.status == kExitOk) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    host.join();
    EXPECT_EQ(sent.status, kExitOk) << sent.err;
    EXPECT_EQ(served.status, kExitOk) << served.err;
    EXPECT_EQ(FirstLine(served.err), "tarnwick-cli: serving on 127.0.0.1:" + port);
    EXPECT_EQ(served.out.rfind("{\"time\":\"", 0), 0u) << served.out;
    EXPECT_NE(served.out.find(R"("type":"0200","request":[{"name":"TPDU")"), std::string::npos);
    EXPECT_NE(served.out.find(R"({"name":"Type","length":"4","value":"0210","field":0})"), std::string::npos);
    EXPECT_NE(served.out.find(R"("ended":"answered"})"), std::string::npos);
    EXPECT_EQ(std::count(served.out.begin(), served.out.end(), '\n'), 1);
}

}  // namespace

TEST(Cli, AnEditedSubRowOfTheJsonRowsRewritesItsField) {
    // Decoded with its sub-rows, 60.2 changed in the JSON, built, decoded again.
    const CliRun parsed = Cli({"parse-iso8583", "--explain", "--format", "json"}, kTypical64);
    ASSERT_EQ(parsed.status, kExitOk) << parsed.err;
    std::string json = parsed.out;
    const std::string from = R"("value":"000123","field":60,"path":"60.2")";
    const std::size_t at = json.find(from);
    ASSERT_NE(at, std::string::npos) << json;
    json.replace(at, from.size(), R"("value":"000124","field":60,"path":"60.2")");
    const CliRun built = Cli({"build-iso8583", "--mode", "64", "-"}, json);
    ASSERT_EQ(built.status, kExitOk) << built.err;
    EXPECT_NE(built.out.find("22000124000500"), std::string::npos) << built.out;
    const CliRun again =
        Cli({"parse-iso8583", "--mode", "64", "--explain", "--format", "json"}, FirstLine(built.out));
    EXPECT_NE(again.out.find(R"("value":"000124","field":60,"path":"60.2")"), std::string::npos)
        << again.out << again.err;
}
