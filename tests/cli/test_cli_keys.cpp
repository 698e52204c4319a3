// mac, pin-block, kcv and cipher in-process: their results and their refusals of bad input.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "tests/common/CliRun.h"

namespace {


TEST(KeyCommands, Results) {
    const struct {
        std::vector<const char*> args;
        const char* input;
        const char* out;
    } cases[] = {
        {{"mac", "--alg", "unionpay-ecb", "--key", "2222222222222222", "--format", "json",
          "1234567890ABCDEF ABCDEF1234567890"},
         "",
         R"({"algorithm":"unionpay-ecb","mac":"E267B6E21913D339","field":"4532363742364532"})"
         "\n"},
        {{"mac", "--alg", "x9.19", "--key", "7CA110454A1A6E570131D9619DC1376E", "--format",
          "json", "-"},
         "48656C6C6F20576F726C642021212121\n",
         R"({"algorithm":"x9.19","mac":"F09B856213BAB83B","field":"F09B856213BAB83B"})"
         "\n"},
        {{"pin-block", "--format", "0", "--pin", "1234", "--pan", "5555555551234567", "--json"},
         "",
         R"({"format":0,"clear":"041261AAAAEDCBA9"})"
         "\n"},
        {{"pin-block", "--decode", "041261AAAAEDCBA9", "--pan", "5555555551234567", "--json"},
         "",
         R"({"format":0,"pin":"1234"})"
         "\n"},
        {{"kcv", "--key", "12345678123456781234567812345678", "--bytes", "3"}, "", "6FB1C8\n"},
        {{"cipher", "--alg", "des", "--encrypt", "--key", "0123456789ABCDEF", "--json",
          "0123456789ABCDEF"},
         "",
         R"({"output":"56CC09E7CFDC4CEF"})"
         "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const CliRun r = Cli(c.args, c.input);
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(KeyCommands, KeyFromAFile) {
    const auto path = std::filesystem::temp_directory_path() / "tarnwick_test_key.txt";
    std::ofstream(path) << "  12345678123456781234567812345678\n";
    const std::string arg = "@" + path.string();
    const CliRun r = Cli({"kcv", "--key", arg.c_str(), "--bytes", "3"});
    std::filesystem::remove(path);
    EXPECT_EQ(r.out, "6FB1C8\n");
}

// Each bad value gives exit status 1, one line on standard error, nothing on standard output,
// and the key's digits appear nowhere.
TEST(KeyCommands, BadInputIsOneLineAndNoOutput) {
    const struct {
        std::vector<const char*> args;
        const char* err;
    } cases[] = {
        {{"mac", "--alg", "x9.19", "--key", "0123456789ABCDEF", "00"},
         "tarnwick-cli mac: --key must be 16 bytes for x9.19"},
        {{"mac", "--alg", "x9.9", "--key", "0123456789ABCDE", "00"},
         "tarnwick-cli mac: --key holds an odd number of hex digits"},
        {{"mac", "--alg", "x9.9", "--key", "0123456789ABCDEX", "00"},
         "tarnwick-cli mac: --key holds a character that is not a hex digit"},
        {{"mac", "--alg", "x9.9", "--key", "0123456789ABCDEF", "0G"},
         "tarnwick-cli mac: the data holds a character that is not a hex digit"},
        {{"mac", "--alg", "md5", "--key", "0123456789ABCDEF", "00"},
         "tarnwick-cli mac: --alg must be x9.9, x9.19 or unionpay-ecb"},
        {{"pin-block", "--format", "0", "--pin", "12a4", "--pan", "5555555551234567"},
         "tarnwick-cli pin-block: the PIN must be 4 to 12 digits"},
        {{"pin-block", "--format", "0", "--pin", "123", "--pan", "5555555551234567"},
         "tarnwick-cli pin-block: the PIN must be 4 to 12 digits"},
        {{"pin-block", "--format", "0", "--pin", "1234567890123", "--pan", "5555555551234567"},
         "tarnwick-cli pin-block: the PIN must be 4 to 12 digits"},
        {{"pin-block", "--format", "0", "--pin", "1234", "--pan", "55555555512345A7"},
         "tarnwick-cli pin-block: the PAN must be 1 to 19 digits"},
        {{"pin-block", "--decode", "041261AAAAEDCBA9", "--pan", "4111111111111111"},
         "tarnwick-cli pin-block: not a valid PIN block"},
        {{"pin-block", "--format", "4", "--pin", "1234", "--pan", "1234567890123", "--key",
          "0123456789ABCDEF"},
         "tarnwick-cli pin-block: the key's length does not fit the format (formats 0-3: 8, 16 "
         "or 24 bytes; format 4: 16, 24 or 32 bytes)"},
        {{"kcv", "--key", "0123456789AB"}, "tarnwick-cli kcv: --key must be 8, 16 or 24 bytes"},
        {{"cipher", "--alg", "tdes", "--encrypt", "--key", "0123456789ABCDEF", "00"},
         "tarnwick-cli cipher: --key must be 16 or 24 bytes for tdes"},
        {{"cipher", "--alg", "des", "--decrypt", "--key", "0123456789ABCDEF", "00112233"},
         "tarnwick-cli cipher: the data must be whole blocks of 8 bytes (no padding applies)"},
        {{"cipher", "--alg", "aes", "--encrypt", "--key", "000102030405060708090A0B0C0D0E0F",
          "0011223344556677"},
         "tarnwick-cli cipher: the data must be whole blocks of 16 bytes (no padding applies)"},
        {{"kcv", "--key", "@/nonexistent/key"},
         "tarnwick-cli kcv: --key: cannot read the key file /nonexistent/key: No such file or "
         "directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.status, kExitFailed);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string(c.err) + "\n");
        EXPECT_EQ(r.err.find("0123456789ABCD"), std::string::npos);
    }
}

TEST(KeyCommands, HelpWarnsAboutKeysOnTheCommandLine) {
    for (const char* command : {"mac", "pin-block", "kcv", "cipher"}) {
        SCOPED_TRACE(command);
        const CliRun r = Cli({command, "--help"});
        EXPECT_EQ(r.status, kExitOk);
        EXPECT_NE(r.out.find("visible to every user"), std::string::npos);
    }
}

}  // namespace
