// The fixtures of the tests of message keys and MACs: keys from a keys file's text, golden
// messages and the typical 64-field message.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "crypto/KeysFile.h"
#include "tests/common/GoldenText.h"
#include "tests/common/TestMessages.h"

/// The keys of a keys file's JSON text, which must parse.
inline KeySet Keys(std::string_view json) {
    KeySet keys;
    std::string problem;
    EXPECT_TRUE(ParseKeysJson(json, keys, problem)) << problem;
    return keys;
}
