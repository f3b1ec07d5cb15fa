#pragma once
// SHA-256 on the platform's cryptography service (CNG). Digests are always
// handled as 64 lower-case hex digits; a failure of the service never gives a
// wrong digest, only an empty one, which matches no expected value.
#include <cstddef>
#include <string>

#include <windows.h>
#include <bcrypt.h>

// An incremental hasher owned by one thread. One whose open failed is inert:
// it accepts data, ignores it, and finishes with an empty digest.
class Sha256Hasher {
public:
    Sha256Hasher() = default;
    ~Sha256Hasher() { close(); }
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;

    // Returns the platform status (negative = failure, the hasher stays inert).
    NTSTATUS open();
    NTSTATUS update(const void* data, size_t size);
    // Finishes the hash; afterwards the hasher takes no more data.
    std::string hex_digest();
    // Releases both handles; safe to call again and on an inert hasher.
    void close();

    bool inert() const { return hash_ == nullptr; }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

std::string sha256_hex(const void* data, size_t size);
std::string sha256_hex(const std::string& bytes);
