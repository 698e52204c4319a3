// diff on a table of cases: fields and tags that differ, fields in only one, texts that do not
// decode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Message.h"
#include "tests/common/CliRun.h"
#include "tests/common/TestMessages.h"

namespace {

const std::string kTypical(kTypical64);

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

/// The typical message without field 49 (its bitmap and length follow).
std::string WithoutField49() {
    const std::string raw = HexBytes(kTypical64);
    const std::vector<std::uint8_t> bytes(raw.begin(), raw.end());
    Message m(BuiltinTable(BuiltinForm::kUnionPay64));
    EXPECT_GT(m.Decode(bytes.data(), static_cast<std::int32_t>(bytes.size()), bytes.size(),
                       LengthRule::Match, {}),
              0);
    m.Clear(49);
    std::vector<std::uint8_t> out;
    EncodeOptions options;
    options.macAsStored = true;
    EXPECT_TRUE(m.Encode(out, options).ok);
    std::string text;
    for (std::uint8_t b : out) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

CliRun Diff(const std::string& a, const std::string& b) {
    return Cli({"diff", "--format", "json", a.c_str(), b.c_str()});
}

}  // namespace

TEST(Diff, CasesOfMessages) {
    const std::string tlv =
        "0123600003000060310031000002007020048020C08211166225880123456789000000000000010000000123"
        "051000286225880123456789D28122010000313233343536373831323334353637383930313233343531353601"
        "869F2608A1B2C3D4E5F607185A08622588012345678957106225880123456789D28122010000000F710B9F1804"
        "00000001860200009F2701809F101307010103A0A802010A0100000000006DD4A4D79F3704C3C9AC219F360201"
        "43950500800400009A032512079C01009F02060000000100005F2A02015682027C009F1A0201569F0306000000"
        "0000009F3303E0E1C89F34034203009F3501229F1E0831323334353637388408A0000003330101029F09020020"
        "9F4104000000010013220001230005003A4F9C0D12E5B776";
    char path[] = "/tmp/tarnwick_diff_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string fileText = std::string(kTypical) + "\n";
    ASSERT_EQ(write(fd, fileText.data(), fileText.size()), static_cast<ssize_t>(fileText.size()));
    close(fd);
    const std::string missing49 = WithoutField49();
    struct Case {
        const char* name;
        std::string a;
        std::string b;
        int status;
        std::string out;  // the whole JSON line, or a text standard error holds
    };
    const Case cases[] = {
        {"same", kTypical, kTypical, 0, R"({"same":true,"fields":[]})"},
        {"same, one from a file", std::string("@") + path, kTypical, 0,
         R"({"same":true,"fields":[]})"},
        {"one field differs", kTypical, Replace(kTypical, "0000000123", "0000000124"), 1,
         R"({"same":false,"fields":[{"field":11,"path":"11","a":"000123","b":"000124"}]})"},
        {"only in A", kTypical, missing49, 1,
         R"({"same":false,"fields":[{"field":1,"path":"1","a":"7020048020C08011","b":"7020048020C00011"},)"
         R"({"field":49,"path":"49","a":"313536 -> 156","b":null}]})"},
        {"only in B", missing49, kTypical, 1,
         R"({"same":false,"fields":[{"field":1,"path":"1","a":"7020048020C00011","b":"7020048020C08011"},)"
         R"({"field":49,"path":"49","a":null,"b":"313536 -> 156"}]})"},
        {"a tag of field 55", tlv, Replace(tlv, "E5F60718", "E5F60719"), 1, R"("path":"55.9F26")"},
        {"A does not decode", "0002FFFF", kTypical, 2, "A does not decode"},
        {"B does not decode", kTypical, "", 2, "B does not decode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r = Diff(c.a, c.b);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find(c.out), std::string::npos) << r.err;
        } else if (c.out.starts_with('{')) {
            EXPECT_EQ(r.out, c.out + "\n");
        } else {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        }
    }
    unlink(path);
}
