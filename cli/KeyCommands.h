// tarnwick-cli mac, pin-block, kcv and cipher: the crypto primitives on the command line.
#pragma once

#include <span>
#include <string_view>

#include "cli/Serve.h"
#include "crypto/KeysFile.h"

/// One run of a key command: its options (last one wins), positional arguments and streams.
struct KeyCommandArgs {
    const CliOptionList& options;
    std::span<const std::string_view> positional;
    const CliStreams& io;
};

/// Each returns the exit status: 0, or 1 with one line on standard error and nothing on
/// standard output. Key bytes never appear in any output but the command's own result.
[[nodiscard]] int RunMacCommand(const KeyCommandArgs& a);
[[nodiscard]] int RunPinBlockCommand(const KeyCommandArgs& a);
[[nodiscard]] int RunKcvCommand(const KeyCommandArgs& a);
[[nodiscard]] int RunCipherCommand(const KeyCommandArgs& a);

/// Reads a KEY argument: hex digits, or @FILE holding them (white space around them ignored).
/// On failure, problem says why without repeating the key.
[[nodiscard]] bool ReadKeyArgument(std::string_view text, SecretKey& key, std::string& problem);

/// Reads the keys file at path (the one bounded reader); a file readable by group or others is
/// used with a warning. False after one error line naming the file and the member.
[[nodiscard]] bool LoadKeysFile(std::string_view path, KeySet& keys, const CliStreams& io);

extern const std::string_view kMacHelp;
extern const std::string_view kPinBlockHelp;
extern const std::string_view kKcvHelp;
extern const std::string_view kCipherHelp;
