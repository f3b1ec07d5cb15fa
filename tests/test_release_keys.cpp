#include "test_release_keys.h"

#include <cstring>

#include <windows.h>
#include <bcrypt.h>

#include "content_server_support.h"
#include "launcher/net/sha256.h"
#include "launcher/net/signature_file.h"

std::vector<std::string> test_release_keys;

const std::vector<std::string>& release_public_keys() { return test_release_keys; }

namespace {

std::string to_hex(const unsigned char* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

// r then s of `key`'s signature of `digest`, in hex; empty on failure.
std::string sign_digest(const TestKey& key, const std::vector<unsigned char>& digest) {
    std::vector<unsigned char> point, secret;
    if (!hex_to_bytes(key.public_hex, point) || !hex_to_bytes(key.private_hex, secret))
        return std::string();
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + point.size() + secret.size());
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.data(), point.size());
    std::memcpy(blob.data() + sizeof header + point.size(), secret.data(), secret.size());
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0)
        return std::string();
    BCRYPT_KEY_HANDLE handle = nullptr;
    std::string signature;
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle, blob.data(),
                            static_cast<ULONG>(blob.size()), 0) >= 0) {
        unsigned char value[64];
        ULONG size = 0;
        if (BCryptSignHash(handle, nullptr, const_cast<PUCHAR>(digest.data()),
                           static_cast<ULONG>(digest.size()), value, sizeof value, &size, 0) >= 0 &&
            size == sizeof value)
            signature = to_hex(value, size);
        BCryptDestroyKey(handle);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return signature;
}

}  // namespace

std::string signature_file_for(const char* document, uint64_t release, const std::string& bytes,
                               const std::vector<TestKey>& keys) {
    const std::string header = std::string("korval-signature 1\ndocument ") + document +
                               "\nrelease " + std::to_string(release) + "\n";
    std::vector<unsigned char> digest;
    hex_to_bytes(sha256_hex(header + bytes), digest);
    std::string text = header;
    for (const TestKey& key : keys) {
        std::vector<unsigned char> point;
        hex_to_bytes(key.public_hex, point);
        const std::string signature = sign_digest(key, digest);
        if (signature.empty()) return std::string();
        text += "signature " + sha256_hex(point.data(), point.size()).substr(0, 16) + " " +
                signature + "\n";
    }
    return text;
}

bool put_signed_server_file(const std::string& server_path, const char* document,
                            uint64_t release, const std::string& bytes,
                            const std::vector<TestKey>& keys) {
    const std::string signature = signature_file_for(document, release, bytes, keys);
    return !signature.empty() && put_server_file(server_path, bytes) &&
           put_server_file(server_path + ".sig", signature);
}
