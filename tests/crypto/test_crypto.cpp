// Cipher, MAC, key check value and PIN block vectors from published sources, one table each.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "crypto/Cipher.h"
#include "crypto/Mac.h"
#include "crypto/PinBlock.h"

namespace {

std::vector<std::uint8_t> Hex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ParseHex(text, bytes), HexStatus::Ok) << text;
    return bytes;
}

SecretKey Key(std::string_view hex) {
    SecretKey key;
    EXPECT_EQ(ParseKeyHex(hex, key), HexStatus::Ok);
    return key;
}

std::vector<std::uint8_t> Ascii(std::string_view text) { return {text.begin(), text.end()}; }

struct CipherVector {
    const char* source;
    CipherAlg alg;
    CipherMode mode;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
};

const CipherVector kCipherVectors[] = {
    // The workbench's own reference vector.
    {"DES reference", CipherAlg::Des, CipherMode::Ecb, "0123456789ABCDEF", "", "0123456789ABCDEF",
     "56CC09E7CFDC4CEF"},
    // J. Orlin Grabbe, "The DES Algorithm Illustrated", the worked example.
    {"Grabbe", CipherAlg::Des, CipherMode::Ecb, "133457799BBCDFF1", "", "0123456789ABCDEF",
     "85E813540F0AB405"},
    // FIPS 81 appendix B, "Now is t".
    {"FIPS 81", CipherAlg::Des, CipherMode::Ecb, "0123456789ABCDEF", "", "4E6F772069732074",
     "3FA40E8A984D4815"},
    // NIST SP 800-67 rev. 1 appendix B, three-key TDEA ECB.
    {"SP 800-67", CipherAlg::Tdes, CipherMode::Ecb,
     "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123", "",
     "54686520717566636B2062726F776E20666F78206A756D70",
     "A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900"},
    // A double-length key with equal halves is single DES.
    {"equal halves", CipherAlg::Tdes, CipherMode::Ecb, "0123456789ABCDEF0123456789ABCDEF", "",
     "0123456789ABCDEF", "56CC09E7CFDC4CEF"},
    // FIPS 197 appendix C.1, AES-128.
    {"FIPS 197", CipherAlg::Aes, CipherMode::Ecb, "000102030405060708090A0B0C0D0E0F", "",
     "00112233445566778899AABBCCDDEEFF", "69C4E0D86A7B0430D8CDB78070B4C55A"},
    // NIST SP 800-38A F.2.1, CBC-AES128, first block.
    {"SP 800-38A", CipherAlg::Aes, CipherMode::Cbc, "2B7E151628AED2A6ABF7158809CF4F3C",
     "000102030405060708090A0B0C0D0E0F", "6BC1BEE22E409F96E93D7E117393172A",
     "7649ABAC8119B246CEE98E9B12E9197D"},
};

TEST(Cipher, PublishedVectorsBothWays) {
    for (const auto& v : kCipherVectors) {
        SCOPED_TRACE(v.source);
        const SecretKey key = Key(v.key);
        std::vector<std::uint8_t> out;
        ASSERT_EQ(RunCipher(v.alg, v.mode, true, key, Hex(v.iv), Hex(v.plain), out),
                  CryptoStatus::Ok);
        EXPECT_EQ(ToHex(out), v.cipher);
        ASSERT_EQ(RunCipher(v.alg, v.mode, false, key, Hex(v.iv), Hex(v.cipher), out),
                  CryptoStatus::Ok);
        EXPECT_EQ(ToHex(out), v.plain);
    }
}

TEST(Cipher, RefusesWrongLengths) {
    std::vector<std::uint8_t> out;
    const auto block = Hex("0011223344556677");
    EXPECT_EQ(RunCipher(CipherAlg::Des, CipherMode::Ecb, true, Key("0011223344556677AA"), {},
                        block, out),
              CryptoStatus::BadKeyLength);
    EXPECT_EQ(RunCipher(CipherAlg::Tdes, CipherMode::Ecb, true, Key("0011223344556677"), {},
                        block, out),
              CryptoStatus::BadKeyLength);
    EXPECT_EQ(RunCipher(CipherAlg::Des, CipherMode::Ecb, true, Key("0011223344556677"), {},
                        Hex("00112233"), out),
              CryptoStatus::NotWholeBlocks);
    EXPECT_EQ(RunCipher(CipherAlg::Des, CipherMode::Cbc, true, Key("0011223344556677"),
                        Hex("0011"), block, out),
              CryptoStatus::BadIvLength);
}

struct MacVector {
    const char* source;
    MacAlgorithm alg;
    const char* key;
    int padding;
    const char* iv;
    std::vector<std::uint8_t> data;
    const char* mac;  // the published digits: the whole block or its first bytes
};

TEST(Mac, PublishedVectors) {
    const MacVector vectors[] = {
        // ISO/IEC 9797-1 algorithm 3 (Bouncy Castle's ISO9797Alg3MacTest).
        {"alg 3", MacAlgorithm::X919, "7CA110454A1A6E570131D9619DC1376E", 1, "",
         Ascii("Hello World !!!!"), "F09B856213BAB83B"},
        // Bouncy Castle MacTest: DES CBC-MAC, zero padding, 32 bits published.
        {"BC MacTest", MacAlgorithm::X99, "0123456789ABCDEF", 1, "",
         Ascii("7654321 Now is the time for "), "F1D30F68"},
        // OpenSSL destest.c cbc_cksum: the text with its terminating zero, IV FEDCBA9876543210.
        {"destest cksum", MacAlgorithm::X99, "0123456789ABCDEF", 1, "FEDCBA9876543210",
         Ascii(std::string_view("7654321 Now is the time for \0", 29)), "1D269397F7FE62B4"},
        // The workbench's UnionPay reference vector.
        {"unionpay", MacAlgorithm::UnionPayEcb, "2222222222222222", 1, "",
         Hex("1234567890ABCDEFABCDEF1234567890"), "E267B6E21913D339"},
        // An equal-half double-length key MACs as its single half.
        {"unionpay 16", MacAlgorithm::UnionPayEcb, "22222222222222222222222222222222", 1, "",
         Hex("1234567890ABCDEFABCDEF1234567890"), "E267B6E21913D339"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.source);
        MacValue mac;
        const auto iv = Hex(v.iv);
        ASSERT_EQ(ComputeMac(v.alg, Key(v.key), v.data, MacParams{v.padding, iv}, mac),
                  CryptoStatus::Ok);
        EXPECT_EQ(ToHex(mac.block).substr(0, std::string_view(v.mac).size()), v.mac);
    }
}

TEST(Mac, UnionPayFieldIsTheHexTextOfTheFirstHalf) {
    MacValue mac;
    ASSERT_EQ(ComputeMac(MacAlgorithm::UnionPayEcb, Key("2222222222222222"),
                         Hex("1234567890ABCDEFABCDEF1234567890"), {}, mac),
              CryptoStatus::Ok);
    EXPECT_EQ(std::string(mac.field.begin(), mac.field.end()), "E267B6E2");
}

TEST(Mac, PaddingMethods) {
    struct Case {
        const char* data;
        int method;
        const char* padded;
    };
    // ISO/IEC 9797-1 padding methods: zeros; 80 then zeros; a length block in bits first.
    const Case cases[] = {
        {"", 1, "0000000000000000"},
        {"0102", 1, "0102000000000000"},
        {"0102030405060708", 1, "0102030405060708"},
        {"0102030405060708", 2, "01020304050607088000000000000000"},
        {"0102", 3, "00000000000000100102000000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.padded);
        EXPECT_EQ(ToHex(PadIso9797(Hex(c.data), c.method)), c.padded);
    }
}

TEST(Mac, RefusesKeysOfTheWrongLength) {
    MacValue mac;
    EXPECT_EQ(ComputeMac(MacAlgorithm::X919, Key("0123456789ABCDEF"), {}, {}, mac),
              CryptoStatus::BadKeyLength);
    EXPECT_EQ(ComputeMac(MacAlgorithm::X99, Key("0123456789ABCD"), {}, {}, mac),
              CryptoStatus::BadKeyLength);
    EXPECT_EQ(ComputeMac(MacAlgorithm::UnionPayEcb, Key("0123456789ABCDEF01"), {}, {}, mac),
              CryptoStatus::BadKeyLength);
}

TEST(Keys, CheckValuesAndParity) {
    struct Case {
        const char* source;
        const char* key;
        std::size_t bytes;
        const char* kcv;
        bool oddParity;
    };
    const Case cases[] = {
        {"reference", "12345678123456781234567812345678", 3, "6FB1C8", false},
        // The common double-length test key (EFTlab key check value table).
        {"test key", "0123456789ABCDEFFEDCBA9876543210", 4, "08D7B4FB", true},
        // DES of eight zero bytes under 0123456789ABCDEF (FIPS 81 key).
        {"single", "0123456789ABCDEF", 8, "D5D44FF720683D0D", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const SecretKey key = Key(c.key);
        std::vector<std::uint8_t> kcv;
        ASSERT_EQ(KeyCheckValue(key, c.bytes, kcv), CryptoStatus::Ok);
        EXPECT_EQ(ToHex(kcv), c.kcv);
        EXPECT_EQ(HasOddParity(key.Bytes()), c.oddParity);
    }
}

TEST(Keys, WrappedUnderAMasterKeyAndBack) {
    const SecretKey master = Key("0123456789ABCDEFFEDCBA9876543210");
    const SecretKey working = Key("133457799BBCDFF11334577900000000");
    std::vector<std::uint8_t> wrapped;
    ASSERT_EQ(WrapKey(master, working, wrapped), CryptoStatus::Ok);
    EXPECT_NE(ToHex(wrapped), ToHex(working.Bytes()));
    SecretKey back;
    ASSERT_EQ(UnwrapKey(master, wrapped, back), CryptoStatus::Ok);
    EXPECT_EQ(ToHex(back.Bytes()), ToHex(working.Bytes()));
}

TEST(Keys, MovedFromKeyIsWiped) {
    SecretKey a = Key("0123456789ABCDEF");
    SecretKey b(std::move(a));
    EXPECT_TRUE(a.Empty());  // NOLINT(bugprone-use-after-move): moving wipes on purpose
    EXPECT_EQ(b.Size(), 8u);
}

TEST(Keys, HexTextProblems) {
    SecretKey key;
    EXPECT_EQ(ParseKeyHex("", key), HexStatus::Empty);
    EXPECT_EQ(ParseKeyHex("ABC", key), HexStatus::OddDigits);
    EXPECT_EQ(ParseKeyHex("ABCG", key), HexStatus::NotHex);
    EXPECT_EQ(ParseKeyHex(std::string(66, 'A'), key), HexStatus::TooLong);
}

struct PinVector {
    const char* source;
    int format;
    const char* pin;
    const char* pan;
    const char* fill;
    const char* clear;
};

TEST(PinBlock, ClearBlocks) {
    const PinVector vectors[] = {
        {"reference", 0, "1234", "5555555551234567", "", "041261AAAAEDCBA9"},
        // EFTlab, ISO 9564 format 0 example.
        {"EFTlab", 0, "1234", "43219876543210987", "", "0412AC89ABCDEF67"},
        {"format 1", 1, "123456", "", "89ABCDEF", "1612345689ABCDEF"},
        {"format 2", 2, "1234", "", "", "241234FFFFFFFFFF"},
        // PIN field 341234ABCDEFABCD xor PAN field 0000987654321098.
        {"format 3", 3, "1234", "43219876543210987", "ABCDEFABCD", "3412ACDD99DDBB55"},
        {"format 4", 4, "1234", "", "0011223344556677", "441234AAAAAAAAAA0011223344556677"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.source);
        PinBlock block;
        ASSERT_EQ(MakePinBlock({v.format, v.pin, v.pan, v.fill}, nullptr, block), PinStatus::Ok);
        EXPECT_EQ(ToHex(block.clear).substr(0, std::string_view(v.clear).size()), v.clear);
        PinRead read;
        ASSERT_EQ(ReadPinBlock(block.clear, v.pan, nullptr, read), PinStatus::Ok);
        EXPECT_EQ(read.format, v.format);
        EXPECT_EQ(read.pin, v.pin);
    }
}

TEST(PinBlock, EncryptedRoundTripAndWrongKeyOrPan) {
    const char* pan = "43219876543210987";
    const SecretKey tdes = Key("0123456789ABCDEFFEDCBA9876543210");
    const SecretKey aes = Key("000102030405060708090A0B0C0D0E0F");
    for (int format = 0; format <= 4; ++format) {
        SCOPED_TRACE(format);
        const SecretKey& key = format == 4 ? aes : tdes;
        PinBlock block;
        ASSERT_EQ(MakePinBlock({format, "987654", pan, ""}, &key, block), PinStatus::Ok);
        PinRead read;
        ASSERT_EQ(ReadPinBlock(block.encrypted, pan, &key, read), PinStatus::Ok);
        EXPECT_EQ(read.pin, "987654");
        if (format == 0 || format >= 3) {
            EXPECT_EQ(ReadPinBlock(block.encrypted, "5555555551234567", &key, read),
                      PinStatus::NotValid);
        }
        if (format == 0 || format == 2 || format == 4) {
            const SecretKey other = format == 4 ? Key("0F0E0D0C0B0A09080706050403020100")
                                                : Key("FEDCBA98765432100123456789ABCDEF");
            EXPECT_EQ(ReadPinBlock(block.encrypted, pan, &other, read), PinStatus::NotValid);
        }
    }
}

TEST(PinBlock, RandomFillIsOfItsKind) {
    for (int i = 0; i < 50; ++i) {
        PinBlock block;
        ASSERT_EQ(MakePinBlock({3, "1234", "", ""}, nullptr, block), PinStatus::NoPan);
        ASSERT_EQ(MakePinBlock({3, "1234", "0000000000000", ""}, nullptr, block), PinStatus::Ok);
        const std::string hex = ToHex(block.clear);
        EXPECT_EQ(hex.find_first_not_of("ABCDEF", 6), std::string::npos) << hex;
    }
}

TEST(PinBlock, RefusedInput) {
    struct Case {
        PinInput in;
        PinStatus status;
    };
    const Case cases[] = {
        {{5, "1234", "", ""}, PinStatus::BadFormat},
        {{0, "123", "1234567890123", ""}, PinStatus::BadPin},
        {{0, "1234567890123", "1234567890123", ""}, PinStatus::BadPin},
        {{0, "12a4", "1234567890123", ""}, PinStatus::BadPin},
        {{0, "1234", "12345A7890123", ""}, PinStatus::BadPan},
        {{0, "1234", "", ""}, PinStatus::NoPan},
        {{0, "1234", "1234567890123", "AAAAAAAAAA"}, PinStatus::BadFill},
        {{3, "1234", "1234567890123", "ABCDEF0123"}, PinStatus::BadFill},
        {{1, "1234", "", "ABC"}, PinStatus::BadFill},
    };
    for (const auto& c : cases) {
        PinBlock block;
        EXPECT_EQ(MakePinBlock(c.in, nullptr, block), c.status) << c.in.pin << " " << c.in.pan;
    }
}

}  // namespace
