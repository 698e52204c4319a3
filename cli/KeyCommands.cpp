// tarnwick-cli mac, pin-block, kcv and cipher: the crypto primitives on the command line.
#include "cli/KeyCommands.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <optional>
#include <string>

#include "codec/FileRead.h"
#include "crypto/Cipher.h"
#include "crypto/Mac.h"
#include "crypto/PinBlock.h"

namespace {

bool Has(const CliOptionList& options, std::string_view name) {
    return OptionValue(options, name).has_value();
}

/// The one error line of a command, exit status 1.
int Refuse(const KeyCommandArgs& a, std::string_view command, std::string_view problem) {
    const std::string line = "tarnwick-cli " + std::string(command) + ": " + std::string(problem) + "\n";
    std::fwrite(line.data(), 1, line.size(), a.io.err);
    return kExitFailed;
}

int Emit(const KeyCommandArgs& a, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), a.io.out) != text.size() ||
        std::fflush(a.io.out) != 0) {
        const std::string_view line = "tarnwick-cli: write error on standard output\n";
        std::fwrite(line.data(), 1, line.size(), a.io.err);
        return kExitFailed;
    }
    return kExitOk;
}

std::string_view TrimSpace(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

/// Hex data: the positional argument, or standard input when it is omitted or "-"; white
/// space anywhere is dropped.
bool ReadData(const KeyCommandArgs& a, std::vector<std::uint8_t>& data, std::string& problem) {
    std::string text;
    if (!a.positional.empty() && a.positional[0] != "-") {
        text = a.positional[0];
    } else {
        FileRead read = ReadBoundedStream(fileno(a.io.in));
        if (!read.Ok()) {
            problem = read.status == FileReadStatus::TooLarge ? "the data is over 1 MiB"
                                                              : "read error on standard input";
            return false;
        }
        text = std::move(read.text);
    }
    std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    const HexStatus s = ParseHex(text, data);
    if (s != HexStatus::Ok) problem = "the data holds " + std::string(HexStatusText(s));
    return s == HexStatus::Ok;
}

bool ReadHexOption(std::string_view name, std::string_view text, std::vector<std::uint8_t>& out,
                   std::string& problem) {
    const HexStatus s = ParseHex(text, out);
    if (s != HexStatus::Ok) problem = std::string(name) + " holds " + std::string(HexStatusText(s));
    return s == HexStatus::Ok;
}

/// --key read and checked; the problem names the option, never the key.
bool KeyOption(const KeyCommandArgs& a, SecretKey& key, std::string& problem) {
    const auto text = OptionValue(a.options, "--key");
    if (!text) {
        problem = "--key is missing";
        return false;
    }
    return ReadKeyArgument(*text, key, problem);
}

std::string JsonOrText(bool json, std::initializer_list<std::pair<std::string_view, std::string>> members) {
    std::string out;
    for (const auto& [name, value] : members) {
        if (json) {
            out += out.empty() ? "{" : ",";
            out.append("\"").append(name).append("\":").append(value);
        } else {
            std::string shown = value;
            if (shown.size() >= 2 && shown.front() == '"') shown = shown.substr(1, shown.size() - 2);
            out.append(name).append(": ").append(shown).append("\n");
        }
    }
    if (json) out.append("}\n");
    return out;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

/// --json, or for mac --format text|json.
bool JsonFormat(const KeyCommandArgs& a, bool& json, std::string& problem) {
    json = Has(a.options, "--json");
    const auto format = OptionValue(a.options, "--format");
    if (!format) return true;
    json = *format == "json";
    if (*format != "text" && *format != "json") {
        problem = "--format must be text or json";
        return false;
    }
    return true;
}

}  // namespace

bool ReadKeyArgument(std::string_view text, SecretKey& key, std::string& problem) {
    std::string fileText;
    std::string_view hex = text;
    if (text.starts_with("@")) {
        FileRead read = ReadBoundedFile(std::string(text.substr(1)), 4096);
        if (!read.Ok()) {
            problem = "--key: cannot read the key file " + std::string(text.substr(1));
            if (read.status == FileReadStatus::CannotOpen) {
                problem += ": " + SystemErrorText(read.error);
            }
            WipeBytes(read.text.data(), read.text.size());
            return false;
        }
        fileText = std::move(read.text);
        hex = TrimSpace(fileText);
    }
    const HexStatus s = ParseKeyHex(hex, key);
    WipeBytes(fileText.data(), fileText.size());
    if (s != HexStatus::Ok) problem = "--key holds " + std::string(HexStatusText(s));
    return s == HexStatus::Ok;
}

bool LoadKeysFile(std::string_view path, KeySet& keys, const CliStreams& io) {
    const std::string name(path);
    FileRead read = ReadBoundedFile(name, 65536);
    std::string problem;
    if (!read.Ok()) {
        problem = "cannot read the keys file";
        if (read.status == FileReadStatus::CannotOpen) problem += ": " + SystemErrorText(read.error);
    } else if (!ParseKeysJson(read.text, keys, problem)) {
        problem = "keys file " + problem;
    }
    WipeBytes(read.text.data(), read.text.size());
    if (!problem.empty()) {
        const std::string line = "tarnwick-cli: " + name + ": " + problem + "\n";
        std::fwrite(line.data(), 1, line.size(), io.err);
        return false;
    }
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        const std::string line = "tarnwick-cli: warning: " + name +
                                 " is readable by group or others; keep keys in a file of mode 0600\n";
        std::fwrite(line.data(), 1, line.size(), io.err);
    }
    return true;
}

int RunMacCommand(const KeyCommandArgs& a) {
    constexpr std::string_view kName = "mac";
    if (a.positional.size() > 1) return Refuse(a, kName, "too many arguments");
    std::string problem;
    bool json = false;
    if (!JsonFormat(a, json, problem)) return Refuse(a, kName, problem);
    const auto alg = MacAlgorithmFromName(OptionValue(a.options, "--alg").value_or(""));
    if (!alg) return Refuse(a, kName, "--alg must be x9.9, x9.19 or unionpay-ecb");
    MacParams params;
    const std::string_view pad = OptionValue(a.options, "--pad").value_or("1");
    if (pad != "1" && pad != "2" && pad != "3") return Refuse(a, kName, "--pad must be 1, 2 or 3");
    params.padding = pad[0] - '0';
    std::vector<std::uint8_t> iv;
    if (const auto text = OptionValue(a.options, "--iv")) {
        if (!ReadHexOption("--iv", *text, iv, problem)) return Refuse(a, kName, problem);
        if (iv.size() != 8) return Refuse(a, kName, "--iv must be 8 bytes (16 hex digits)");
    }
    if (*alg == MacAlgorithm::UnionPayEcb && (params.padding != 1 || !iv.empty())) {
        return Refuse(a, kName, "unionpay-ecb pads with zero bytes and takes no --pad or --iv");
    }
    params.iv = iv;
    SecretKey key;
    if (!KeyOption(a, key, problem)) return Refuse(a, kName, problem);
    std::vector<std::uint8_t> data;
    if (!ReadData(a, data, problem)) return Refuse(a, kName, problem);
    MacValue mac;
    const CryptoStatus s = ComputeMac(*alg, key, data, params, mac);
    if (s == CryptoStatus::BadKeyLength) {
        return Refuse(a, kName,
                      *alg == MacAlgorithm::X919
                          ? "--key must be 16 bytes for x9.19"
                          : "--key must be 8, 16 or 24 bytes for " +
                                std::string(MacAlgorithmName(*alg)));
    }
    if (s != CryptoStatus::Ok) return Refuse(a, kName, CryptoStatusText(s));
    return Emit(a, JsonOrText(json, {{"algorithm", Quoted(MacAlgorithmName(*alg))},
                                     {"mac", Quoted(ToHex(mac.block))},
                                     {"field", Quoted(ToHex(mac.field))}}));
}

int RunPinBlockCommand(const KeyCommandArgs& a) {
    constexpr std::string_view kName = "pin-block";
    if (!a.positional.empty()) return Refuse(a, kName, "too many arguments");
    std::string problem;
    const bool json = Has(a.options, "--json");
    SecretKey key;
    const bool keyed = Has(a.options, "--key");
    if (keyed && !KeyOption(a, key, problem)) return Refuse(a, kName, problem);
    const std::string_view pan = OptionValue(a.options, "--pan").value_or("");
    if (const auto block = OptionValue(a.options, "--decode")) {
        if (Has(a.options, "--pin") || Has(a.options, "--format") || Has(a.options, "--fill")) {
            return Refuse(a, kName, "--decode takes no --pin, --format or --fill");
        }
        std::vector<std::uint8_t> bytes;
        if (!ReadHexOption("--decode", *block, bytes, problem)) return Refuse(a, kName, problem);
        PinRead read;
        const PinStatus s = ReadPinBlock(bytes, pan, keyed ? &key : nullptr, read);
        if (s != PinStatus::Ok) return Refuse(a, kName, PinStatusText(s));
        return Emit(a, JsonOrText(json, {{"format", std::to_string(read.format)},
                                         {"pin", Quoted(read.pin)}}));
    }
    // --format is the PIN block's format here; --json chooses the output.
    const std::string_view format = OptionValue(a.options, "--format").value_or("");
    if (format.size() != 1 || format[0] < '0' || format[0] > '4') {
        return Refuse(a, kName, PinStatusText(PinStatus::BadFormat));
    }
    const auto pin = OptionValue(a.options, "--pin");
    if (!pin) return Refuse(a, kName, "--pin is missing");
    PinBlock block;
    const PinStatus s = MakePinBlock(
        {format[0] - '0', *pin, pan, OptionValue(a.options, "--fill").value_or("")}, keyed ? &key : nullptr,
        block);
    if (s != PinStatus::Ok) return Refuse(a, kName, PinStatusText(s));
    if (!keyed) {
        return Emit(a, JsonOrText(json, {{"format", std::string(format)},
                                         {"clear", Quoted(ToHex(block.clear))}}));
    }
    return Emit(a, JsonOrText(json, {{"format", std::string(format)},
                                     {"clear", Quoted(ToHex(block.clear))},
                                     {"encrypted", Quoted(ToHex(block.encrypted))}}));
}

int RunKcvCommand(const KeyCommandArgs& a) {
    constexpr std::string_view kName = "kcv";
    if (!a.positional.empty()) return Refuse(a, kName, "too many arguments");
    std::string problem;
    const bool json = Has(a.options, "--json");
    const std::string_view bytes = OptionValue(a.options, "--bytes").value_or("4");
    if (bytes != "3" && bytes != "4") return Refuse(a, kName, "--bytes must be 3 or 4");
    SecretKey key;
    if (!KeyOption(a, key, problem)) return Refuse(a, kName, problem);
    std::vector<std::uint8_t> kcv;
    if (KeyCheckValue(key, static_cast<std::size_t>(bytes[0] - '0'), kcv) != CryptoStatus::Ok) {
        return Refuse(a, kName, "--key must be 8, 16 or 24 bytes");
    }
    std::string out = json ? R"({"kcv":")" + ToHex(kcv) + "\"}\n" : ToHex(kcv) + "\n";
    if (!HasOddParity(key.Bytes())) {
        // Not an error: test keys often ignore parity, and DES ignores the parity bits.
        out = json ? R"({"kcv":")" + ToHex(kcv) + R"(","oddParity":false})" + "\n" : out;
    }
    return Emit(a, out);
}

int RunCipherCommand(const KeyCommandArgs& a) {
    constexpr std::string_view kName = "cipher";
    if (a.positional.size() > 1) return Refuse(a, kName, "too many arguments");
    std::string problem;
    const bool json = Has(a.options, "--json");
    const std::string_view algText = OptionValue(a.options, "--alg").value_or("");
    CipherAlg alg = CipherAlg::Des;
    if (algText == "tdes") {
        alg = CipherAlg::Tdes;
    } else if (algText == "aes") {
        alg = CipherAlg::Aes;
    } else if (algText != "des") {
        return Refuse(a, kName, "--alg must be des, tdes or aes");
    }
    const bool encrypt = Has(a.options, "--encrypt");
    if (encrypt == Has(a.options, "--decrypt")) {
        return Refuse(a, kName, "give one of --encrypt and --decrypt");
    }
    const std::string_view modeText = OptionValue(a.options, "--mode").value_or("ecb");
    if (modeText != "ecb" && modeText != "cbc") return Refuse(a, kName, "--mode must be ecb or cbc");
    const CipherMode mode = modeText == "cbc" ? CipherMode::Cbc : CipherMode::Ecb;
    std::vector<std::uint8_t> iv;
    if (const auto text = OptionValue(a.options, "--iv")) {
        if (mode != CipherMode::Cbc) return Refuse(a, kName, "--iv applies to --mode cbc only");
        if (!ReadHexOption("--iv", *text, iv, problem)) return Refuse(a, kName, problem);
        if (iv.size() != BlockSize(alg)) {
            return Refuse(a, kName, "--iv must be one block (" + std::to_string(BlockSize(alg)) +
                                        " bytes)");
        }
    }
    SecretKey key;
    if (!KeyOption(a, key, problem)) return Refuse(a, kName, problem);
    if (!KeyLengthFits(alg, key.Size())) {
        return Refuse(a, kName, alg == CipherAlg::Des    ? "--key must be 8 bytes for des"
                                : alg == CipherAlg::Tdes ? "--key must be 16 or 24 bytes for tdes"
                                                         : "--key must be 16, 24 or 32 bytes for aes");
    }
    std::vector<std::uint8_t> data;
    if (!ReadData(a, data, problem)) return Refuse(a, kName, problem);
    if (data.empty() || data.size() % BlockSize(alg) != 0) {
        return Refuse(a, kName, "the data must be whole blocks of " +
                                    std::to_string(BlockSize(alg)) + " bytes (no padding applies)");
    }
    std::vector<std::uint8_t> out;
    const CryptoStatus s = RunCipher(alg, mode, encrypt, key, iv, data, out);
    if (s != CryptoStatus::Ok) return Refuse(a, kName, CryptoStatusText(s));
    return Emit(a, json ? R"({"output":")" + ToHex(out) + "\"}\n" : ToHex(out) + "\n");
}

// Every key command's help ends with this warning; literal concatenation keeps the help texts
// constant, so the subcommand table can take them before any code runs.
#define TARNWICK_KEY_WARNING                                                                     \
    "KEY is hex digits, or @FILE to read them from a file (white space around them ignored).\n" \
    "Warning: a key given on the command line is visible to every user of this machine (in\n"   \
    "the process list and shell history); use @FILE with a file only you can read.\n"          \
    "Bad input (exit status 1, one line on standard error, nothing on standard output): a key\n" \
    "of the wrong length, odd or non-hex digits, a PIN that is not 4 to 12 digits, a PAN with\n" \
    "letters, data that is not whole blocks where no padding applies.\n"

const std::string_view kMacHelp =
    "Computes the MAC of hex data.\n"
    "  --alg x9.9         ISO/IEC 9797-1 MAC algorithm 1 (CBC-MAC): DES with an 8-byte key,\n"
    "                     triple DES with a 16- or 24-byte key\n"
    "  --alg x9.19        ISO/IEC 9797-1 MAC algorithm 3 (the retail MAC), 16-byte key\n"
    "  --alg unionpay-ecb the UnionPay POS terminal MAC (zero padding, XOR of the blocks, two\n"
    "                     encryptions over its hex text), DES or triple DES by key length\n"
    "  --key KEY          the MAC key\n"
    "  --pad 1|2|3        ISO/IEC 9797-1 padding method (default 1; x9.9 and x9.19 only)\n"
    "  --iv HEX           initial value, 8 bytes (default zero; x9.9 and x9.19 only)\n"
    "  --format text|json (default text) json: {\"algorithm\":\"…\",\"mac\":\"…\",\"field\":\"…\"}\n"
    "mac is the final 8-byte block; field the bytes a message's MAC field holds (for\n"
    "unionpay-ecb its 8 ASCII characters, else the 8 bytes of the block), both as hex.\n"
    "HEX: the data (white space anywhere); omitted or '-': standard input.\n" TARNWICK_KEY_WARNING;

const std::string_view kPinBlockHelp =
    "Makes an ISO 9564-1 PIN block, or reads one back.\n"
    "  --format 0|1|2|3|4 the block's format: 0 and 3 take the PAN (its 12 rightmost digits\n"
    "                     without the check digit), 1 and 3 random fill, 4 is AES-128 with its\n"
    "                     own PAN field and 8 random bytes\n"
    "  --pin PIN          4 to 12 digits\n"
    "  --pan PAN          the card number (digits)\n"
    "  --key KEY          the PIN key: triple DES (formats 0-3), AES (format 4); without it only\n"
    "                     the clear block is shown\n"
    "  --fill HEX         fill in place of random, for reproducible tests: formats 1 and 3 the\n"
    "                     fill nibbles in order (format 3: A-F), format 4 the 8 random bytes\n"
    "  --decode BLOCK     read a block back (encrypted with --key, else clear); its format comes\n"
    "                     from its first nibble. A wrong key or PAN gives \"not a valid PIN block\"\n"
    "  --json             {\"format\":N,\"clear\":\"…\",\"encrypted\":\"…\"}; with --decode\n"
    "                     {\"format\":N,\"pin\":\"…\"}\n" TARNWICK_KEY_WARNING;

const std::string_view kKcvHelp =
    "Prints a key's check value: the key (DES, or triple DES for 16 or 24 bytes) encrypting\n"
    "eight zero bytes, its first bytes as hex.\n"
    "  --key KEY          the key\n"
    "  --bytes 3|4        how many bytes (default 4, as UnionPay sign-in replies carry them)\n"
    "  --json             {\"kcv\":\"…\"}, with \"oddParity\":false when a byte lacks odd parity\n"
    TARNWICK_KEY_WARNING;

const std::string_view kCipherHelp =
    "Encrypts or decrypts whole blocks of hex data, without padding.\n"
    "  --alg des|tdes|aes DES (8-byte key), triple DES (16 or 24), AES (16, 24 or 32)\n"
    "  --encrypt | --decrypt\n"
    "  --key KEY          the key\n"
    "  --mode ecb|cbc     (default ecb)\n"
    "  --iv HEX           CBC initial value, one block (default zero)\n"
    "  --json             {\"output\":\"…\"}; else the output as hex and a line break\n"
    "HEX: the data (white space anywhere); omitted or '-': standard input.\n" TARNWICK_KEY_WARNING;
