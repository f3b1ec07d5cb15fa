#pragma once
// The detached signature beside a signed server document ("manifest.json.sig",
// "latest.json.sig"): three header lines, then one or two signatures made
// with the operator's release keys (docs/signing.md). Read before anything of
// the document itself, so it is untrusted input like the document.
#include <cstdint>
#include <string>
#include <vector>

// What a signature file may weigh; a larger one is refused unread.
const size_t SIGNATURE_FILE_LIMIT = 2048;

struct SignatureLine {
    std::string key_id;     // 16 lower-case hex digits
    std::string signature;  // 128 lower-case hex digits: r then s
};

struct DocumentSignature {
    std::string document;  // the signed document's name, e.g. "manifest.json"
    uint64_t release = 0;  // 1 .. 2^63-1
    std::string header;    // the header lines as signed, each ended by "\n"
    std::vector<SignatureLine> signatures;
};

// Reads a signature file. False with the reason (English, for the log) when
// it is not exactly of the documented form.
bool read_document_signature(const std::string& text, DocumentSignature& out, std::string& error);

// Lower-case hex to bytes; false for an odd length or any other character.
bool hex_to_bytes(const std::string& hex, std::vector<unsigned char>& bytes);
