// Block ciphers for test keys: single DES, triple DES and AES, ECB or CBC, no padding.
#include "crypto/Cipher.h"

#include <openssl/evp.h>

#include <memory>

namespace {

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

const EVP_CIPHER* PickCipher(CipherAlg alg, CipherMode mode, std::size_t keyBytes) {
    const bool cbc = mode == CipherMode::Cbc;
    if (alg != CipherAlg::Aes) return cbc ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb();
    switch (keyBytes) {
        case 16:
            return cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
        case 24:
            return cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
        default:
            return cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    }
}

/// The 24 bytes of three DES keys: single DES is K K K, double length K1 K2 K1. Only the
/// default provider is used, so single DES runs as triple DES with the key repeated.
std::array<std::uint8_t, 24> TripleKey(ByteView key) {
    std::array<std::uint8_t, 24> k{};
    for (std::size_t i = 0; i < 24; ++i) k[i] = key[i % key.size()];
    if (key.size() == 16) {
        for (std::size_t i = 16; i < 24; ++i) k[i] = key[i - 16];
    }
    return k;
}

}  // namespace

std::string_view CryptoStatusText(CryptoStatus status) {
    switch (status) {
        case CryptoStatus::Ok:
            return "ok";
        case CryptoStatus::BadKeyLength:
            return "the key's length does not fit the algorithm";
        case CryptoStatus::NotWholeBlocks:
            return "the data is not a whole number of blocks";
        case CryptoStatus::BadIvLength:
            return "the initial value is not one block";
        case CryptoStatus::Failed:
            return "the cipher failed";
    }
    return "";
}

bool KeyLengthFits(CipherAlg alg, std::size_t bytes) {
    switch (alg) {
        case CipherAlg::Des:
            return bytes == 8;
        case CipherAlg::Tdes:
            return bytes == 16 || bytes == 24;
        case CipherAlg::Aes:
            return bytes == 16 || bytes == 24 || bytes == 32;
    }
    return false;
}

std::size_t BlockSize(CipherAlg alg) { return alg == CipherAlg::Aes ? 16 : 8; }

CryptoStatus RunCipher(CipherAlg alg, CipherMode mode, bool encrypt, const SecretKey& key,
                       ByteView iv, ByteView data, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!KeyLengthFits(alg, key.Size())) return CryptoStatus::BadKeyLength;
    const std::size_t block = BlockSize(alg);
    if (data.size() % block != 0) return CryptoStatus::NotWholeBlocks;
    std::array<std::uint8_t, 16> ivBytes{};
    if (mode == CipherMode::Cbc && !iv.empty()) {
        if (iv.size() != block) return CryptoStatus::BadIvLength;
        std::copy(iv.begin(), iv.end(), ivBytes.begin());
    }
    std::array<std::uint8_t, 24> tripled{};
    const std::uint8_t* keyBytes = key.Bytes().data();
    if (alg != CipherAlg::Aes) {
        tripled = TripleKey(key.Bytes());
        keyBytes = tripled.data();
    }
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    bool ok = ctx != nullptr &&
              EVP_CipherInit_ex(ctx.get(), PickCipher(alg, mode, key.Size()), nullptr, keyBytes,
                                ivBytes.data(), encrypt ? 1 : 0) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1;
    WipeBytes(tripled.data(), tripled.size());
    if (!ok) return CryptoStatus::Failed;
    out.assign(data.size() + block, 0);
    int n = 0;
    int tail = 0;
    ok = EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) ==
             1 &&
         EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    if (!ok) {
        WipeBytes(out.data(), out.size());
        out.clear();
        return CryptoStatus::Failed;
    }
    out.resize(static_cast<std::size_t>(n + tail));
    return CryptoStatus::Ok;
}

CryptoStatus DesEcb(bool encrypt, const SecretKey& key, ByteView data,
                    std::vector<std::uint8_t>& out) {
    const CipherAlg alg = key.Size() == 8 ? CipherAlg::Des : CipherAlg::Tdes;
    return RunCipher(alg, CipherMode::Ecb, encrypt, key, {}, data, out);
}

CryptoStatus KeyCheckValue(const SecretKey& key, std::size_t bytes,
                           std::vector<std::uint8_t>& out) {
    const Block8 zero{};
    const CryptoStatus s = DesEcb(true, key, zero, out);
    if (s == CryptoStatus::Ok) out.resize(std::min<std::size_t>(std::max<std::size_t>(bytes, 1), 8));
    return s;
}

CryptoStatus WrapKey(const SecretKey& master, const SecretKey& key,
                     std::vector<std::uint8_t>& out) {
    return DesEcb(true, master, key.Bytes(), out);
}

CryptoStatus UnwrapKey(const SecretKey& master, ByteView wrapped, SecretKey& key) {
    std::vector<std::uint8_t> clear;
    const CryptoStatus s = DesEcb(false, master, wrapped, clear);
    key = s == CryptoStatus::Ok ? SecretKey(clear) : SecretKey();
    WipeBytes(clear.data(), clear.size());
    return s;
}
