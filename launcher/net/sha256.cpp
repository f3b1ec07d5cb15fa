#include "sha256.h"

#include <cstdio>

NTSTATUS Sha256Hasher::open() {
    close();
    NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status < 0) {
        algorithm_ = nullptr;
        return status;
    }
    // No object buffer: the provider allocates the hash object itself.
    status = BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0);
    if (status < 0) hash_ = nullptr;
    return status;
}

NTSTATUS Sha256Hasher::update(const void* data, size_t size) {
    if (!hash_) return 0;
    // CNG takes 32-bit lengths; feed larger buffers in pieces.
    const unsigned char* p = static_cast<const unsigned char*>(data);
    NTSTATUS status = 0;
    while (size > 0 && status >= 0) {
        ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        status = BCryptHashData(hash_, const_cast<PUCHAR>(p), piece, 0);
        p += piece;
        size -= piece;
    }
    return status;
}

std::string Sha256Hasher::hex_digest() {
    if (!hash_) return std::string();
    unsigned char digest[32];
    NTSTATUS status = BCryptFinishHash(hash_, digest, sizeof digest, 0);
    // A finished hash object accepts nothing more: drop it now.
    BCryptDestroyHash(hash_);
    hash_ = nullptr;
    if (status < 0) return std::string();
    char hex[65];
    for (int i = 0; i < 32; ++i) std::snprintf(hex + i * 2, 3, "%02x", digest[i]);
    return std::string(hex, 64);
}

void Sha256Hasher::close() {
    if (hash_) BCryptDestroyHash(hash_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
    hash_ = nullptr;
    algorithm_ = nullptr;
}

std::string sha256_hex(const void* data, size_t size) {
    Sha256Hasher hasher;
    hasher.open();
    hasher.update(data, size);
    std::string digest = hasher.hex_digest();
    hasher.close();
    return digest;
}

std::string sha256_hex(const std::string& bytes) { return sha256_hex(bytes.data(), bytes.size()); }
