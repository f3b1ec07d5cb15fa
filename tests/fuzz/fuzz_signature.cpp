// The signature file beside a signed server document: an accepted file is
// exactly of the documented form, its header is what gets signed, and
// reading the same text again gives the same result.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "launcher/net/signature_file.h"

namespace {

bool lower_hex(const std::string& text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz_text(data, size);
    DocumentSignature read;
    std::string error;
    const bool accepted = read_document_signature(text, read, error);
    if (!accepted) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(text.size() <= SIGNATURE_FILE_LIMIT);
    FUZZ_CHECK(!read.document.empty());
    FUZZ_CHECK(read.release >= 1 && read.release <= 0x7fffffffffffffffull);
    FUZZ_CHECK(read.header == "korval-signature 1\ndocument " + read.document + "\nrelease " +
                                  std::to_string(read.release) + "\n");
    FUZZ_CHECK(read.signatures.size() >= 1 && read.signatures.size() <= 2);
    for (const SignatureLine& line : read.signatures) {
        FUZZ_CHECK(line.key_id.size() == 16 && lower_hex(line.key_id));
        FUZZ_CHECK(line.signature.size() == 128 && lower_hex(line.signature));
        std::vector<unsigned char> bytes;
        FUZZ_CHECK(hex_to_bytes(line.signature, bytes) && bytes.size() == 64);
    }
    // The signed header, with the signature lines written back, reads alike.
    std::string again = read.header;
    for (const SignatureLine& line : read.signatures)
        again += "signature " + line.key_id + " " + line.signature + "\n";
    DocumentSignature reread;
    FUZZ_CHECK(read_document_signature(again, reread, error));
    FUZZ_CHECK(reread.header == read.header && reread.signatures.size() == read.signatures.size());
    return 0;
}
