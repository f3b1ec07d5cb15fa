#pragma once
// Verification of the two signed server documents before any field of them
// is read: the signature file beside each must verify with one of the
// build's release keys (CNG, ECDSA P-256 over SHA-256), name that document,
// and carry a release number no lower than the highest this user's launcher
// has accepted for it (HKCU\Software\KORVAL). docs/signing.md has the format.
#include <cstdint>
#include <string>
#include <vector>

enum class SignedDocument { Manifest, LauncherRecord };

// The document's name as signed ("manifest.json", "latest.json").
const char* signed_document_name(SignedDocument document);

// True when the build has release keys; without them nothing is verified.
bool releases_verified();

// The release floor remembered for `document` under `keys`; 0 when none, or
// when it was remembered under keys that share none with these.
uint64_t remembered_release(SignedDocument document, const std::vector<std::string>& keys);

// Verifies `signature_text` for `document_bytes` against `keys` (128-hex
// public keys) and the remembered floor. On success `release` is the signed
// number; on failure `reason` says why (English, for the log). Remembers
// nothing.
bool verify_document(SignedDocument document, const std::string& document_bytes,
                     const std::string& signature_text, const std::vector<std::string>& keys,
                     uint64_t& release, std::string& reason);

// The same against the build's own keys; a verified release is remembered
// as the new floor at once.
bool verify_and_remember(SignedDocument document, const std::string& document_bytes,
                         const std::string& signature_text, std::string& reason);

// Whether `document_bytes`, fetched from `document_path`, may be read. Without
// release keys (a development build) every document may. With them, the
// signature file beside it (its path + ".sig") is fetched, and the document
// verified and its release remembered.
bool fetch_and_verify(SignedDocument document, const std::string& document_path,
                      const std::string& document_bytes, std::string& reason);
