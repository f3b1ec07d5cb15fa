#include "release_verify.h"

#include <cstring>

#include <windows.h>
#include <bcrypt.h>

#include "launcher/core/win_handles.h"
#include "launcher/net/http_client.h"
#include "launcher/net/release_keys.h"
#include "launcher/net/sha256.h"
#include "launcher/net/signature_file.h"

namespace {

const wchar_t SETTINGS_KEY[] = L"Software\\KORVAL";
const size_t POINT_BYTES = 64;
const size_t DIGEST_BYTES = 32;
const size_t KEY_ID_DIGITS = 16;
// A document name from the server goes into the log: only this much of it.
const size_t NAME_SHOWN = 64;

// The keys the remembered numbers were accepted under, as their ids.
const wchar_t KEYS_VALUE[] = L"ReleaseKeys";

const wchar_t* floor_value(SignedDocument document) {
    return document == SignedDocument::Manifest ? L"ManifestRelease" : L"LauncherRelease";
}

// The key id: the first 8 bytes of the SHA-256 of the 64-byte point, in hex.
std::string key_id_of(const std::vector<unsigned char>& point) {
    return sha256_hex(point.data(), point.size()).substr(0, KEY_ID_DIGITS);
}

// "id,id" of the build's keys.
std::wstring key_ids_of(const std::vector<std::string>& keys) {
    std::wstring ids;
    for (const std::string& key : keys) {
        std::vector<unsigned char> point;
        if (!hex_to_bytes(key, point)) continue;
        const std::string id = key_id_of(point);
        if (!ids.empty()) ids += L',';
        ids.append(id.begin(), id.end());
    }
    return ids;
}

// A launcher whose keys share none with those the numbers were remembered
// under has had every key replaced, as after a key leaked: the old numbers,
// which whoever held the leaked key could have raised to the limit, no
// longer bind it. A roll-over keeps one key in common, and the numbers.
bool same_key_lineage(const std::wstring& stored, const std::wstring& current) {
    for (size_t at = 0; at < current.size(); at += KEY_ID_DIGITS + 1)
        if (stored.find(current.substr(at, KEY_ID_DIGITS)) != std::wstring::npos) return true;
    return false;
}

std::wstring stored_key_ids(HKEY key) {
    wchar_t buffer[128] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegQueryValueExW(key, KEYS_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return buffer;
}

void remember_release(SignedDocument document, uint64_t release,
                      const std::vector<std::string>& keys) {
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_READ, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring ids = key_ids_of(keys);
    if (!same_key_lineage(stored_key_ids(key.get()), ids)) {
        // Numbers of the replaced keys go with them.
        RegDeleteValueW(key.get(), L"ManifestRelease");
        RegDeleteValueW(key.get(), L"LauncherRelease");
    }
    RegSetValueExW(key.get(), KEYS_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(ids.c_str()),
                   static_cast<DWORD>((ids.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key.get(), floor_value(document), 0, REG_QWORD,
                   reinterpret_cast<const BYTE*>(&release), sizeof release);
}

// True when `signature` (r then s) is `point`'s signature of `digest`.
bool ecdsa_verifies(const std::vector<unsigned char>& point,
                    const std::vector<unsigned char>& digest,
                    const std::vector<unsigned char>& signature) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0)
        return false;
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + POINT_BYTES);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, POINT_BYTES / 2};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.data(), POINT_BYTES);
    BCRYPT_KEY_HANDLE key = nullptr;
    bool verified = false;
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                            static_cast<ULONG>(blob.size()), 0) >= 0) {
        verified = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest.data()),
                                         static_cast<ULONG>(digest.size()),
                                         const_cast<PUCHAR>(signature.data()),
                                         static_cast<ULONG>(signature.size()), 0) == 0;
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return verified;
}

// The SHA-256 of the header lines and the document, as bytes.
std::vector<unsigned char> signed_digest(const std::string& header, const std::string& document) {
    Sha256Hasher hasher;
    hasher.open();
    hasher.update(header.data(), header.size());
    hasher.update(document.data(), document.size());
    std::vector<unsigned char> digest;
    if (!hex_to_bytes(hasher.hex_digest(), digest) || digest.size() != DIGEST_BYTES) digest.clear();
    return digest;
}

}  // namespace

const char* signed_document_name(SignedDocument document) {
    return document == SignedDocument::Manifest ? "manifest.json" : "latest.json";
}

bool releases_verified() { return !release_public_keys().empty(); }

uint64_t remembered_release(SignedDocument document, const std::vector<std::string>& keys) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return 0;
    if (!same_key_lineage(stored_key_ids(key.get()), key_ids_of(keys))) return 0;
    uint64_t release = 0;
    DWORD type = 0;
    DWORD size = sizeof release;
    if (RegQueryValueExW(key.get(), floor_value(document), nullptr, &type,
                         reinterpret_cast<BYTE*>(&release), &size) != ERROR_SUCCESS ||
        type != REG_QWORD || size != sizeof release)
        return 0;
    return release;
}

bool verify_document(SignedDocument document, const std::string& document_bytes,
                     const std::string& signature_text, const std::vector<std::string>& keys,
                     uint64_t& release, std::string& reason) {
    DocumentSignature signature;
    if (!read_document_signature(signature_text, signature, reason)) return false;
    if (signature.document != signed_document_name(document)) {
        reason = "the signature is for '" + signature.document.substr(0, NAME_SHOWN) + "'";
        return false;
    }
    const std::vector<unsigned char> digest = signed_digest(signature.header, document_bytes);
    bool known = false;
    bool verified = false;
    for (const SignatureLine& line : signature.signatures) {
        std::vector<unsigned char> value;
        if (!hex_to_bytes(line.signature, value)) continue;
        for (const std::string& key : keys) {
            std::vector<unsigned char> point;
            if (!hex_to_bytes(key, point) || point.size() != POINT_BYTES) continue;
            if (key_id_of(point) != line.key_id) continue;
            known = true;
            verified = verified || (!digest.empty() && ecdsa_verifies(point, digest, value));
        }
    }
    if (!verified) {
        reason = known ? "the signature does not match" : "signed by an unknown key";
        return false;
    }
    const uint64_t floor = remembered_release(document, keys);
    if (signature.release < floor) {
        reason = "release " + std::to_string(signature.release) + " is older than release " +
                 std::to_string(floor) + ", already accepted";
        return false;
    }
    release = signature.release;
    return true;
}

bool verify_and_remember(SignedDocument document, const std::string& document_bytes,
                         const std::string& signature_text, std::string& reason) {
    const std::vector<std::string>& keys = release_public_keys();
    uint64_t release = 0;
    if (!verify_document(document, document_bytes, signature_text, keys, release, reason))
        return false;
    if (release > remembered_release(document, keys)) remember_release(document, release, keys);
    return true;
}

bool fetch_and_verify(SignedDocument document, const std::string& document_path,
                      const std::string& document_bytes, std::string& reason) {
    if (!releases_verified()) return true;
    std::string signature;
    if (!http_get_to_memory(document_path + ".sig", signature, SIGNATURE_FILE_LIMIT)) {
        reason = "no signature (see the line above)";
        return false;
    }
    return verify_and_remember(document, document_bytes, signature, reason);
}
