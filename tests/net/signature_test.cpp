// Signed server documents: the signature file's form, and verification with
// CNG against given keys and the remembered release numbers.
#include <gtest/gtest.h>

#include <windows.h>

#include "launcher/net/release_verify.h"
#include "launcher/net/signature_file.h"
#include "test_release_keys.h"
#include "test_support.h"

namespace {

const std::string SIG_A(128, 'a');
const std::string HEADER = "korval-signature 1\ndocument manifest.json\nrelease 42\n";
const std::string LINE = "signature 0123456789abcdef " + SIG_A + "\n";

TEST(SignatureFile, ReadsTheDocumentedFormAndNothingElse) {
    DocumentSignature read;
    std::string error;
    ASSERT_TRUE(read_document_signature(HEADER + LINE, read, error)) << error;
    EXPECT_EQ(read.document, "manifest.json");
    EXPECT_EQ(read.release, 42u);
    EXPECT_EQ(read.header, HEADER);
    ASSERT_EQ(read.signatures.size(), 1u);
    EXPECT_EQ(read.signatures[0].key_id, "0123456789abcdef");
    // Carriage returns, no final line feed, a second key's line.
    const std::string crlf = "korval-signature 1\r\ndocument manifest.json\r\nrelease 42\r\n" +
                             LINE.substr(0, LINE.size() - 1);
    ASSERT_TRUE(read_document_signature(crlf, read, error)) << error;
    EXPECT_EQ(read.header, HEADER) << "signed as the lines are, with line feeds";
    ASSERT_TRUE(read_document_signature(HEADER + LINE + LINE, read, error));
    EXPECT_EQ(read.signatures.size(), 2u);
    ASSERT_TRUE(read_document_signature(
        "korval-signature 1\ndocument latest.json\nrelease 9223372036854775807\n" + LINE, read,
        error));
    EXPECT_EQ(read.release, 9223372036854775807ull);

    for (const std::string& bad : std::vector<std::string>{
             "", HEADER, "korval-signature 2\ndocument manifest.json\nrelease 42\n" + LINE,
             "document manifest.json\nkorval-signature 1\nrelease 42\n" + LINE,
             "korval-signature 1\ndocument \nrelease 42\n" + LINE,
             "korval-signature 1\ndocument manifest.json\nrelease 0\n" + LINE,
             "korval-signature 1\ndocument manifest.json\nrelease 042\n" + LINE,
             "korval-signature 1\ndocument manifest.json\nrelease -1\n" + LINE,
             "korval-signature 1\ndocument manifest.json\nrelease 9223372036854775808\n" + LINE,
             "korval-signature 1\ndocument manifest.json\nrelease 18446744073709551617\n" + LINE,
             HEADER + "signature 0123456789ABCDEF " + SIG_A + "\n",
             HEADER + "signature 0123456789abcdef " + SIG_A.substr(1) + "\n",
             HEADER + "signature 0123456789abcdef  " + SIG_A + "\n",
             HEADER + "signature 0123456789abcde " + SIG_A + "0\n",
             HEADER + LINE + LINE + LINE, HEADER + LINE + "\n", HEADER + LINE + "comment\n",
             HEADER + "signature 0123456789abcdef " + SIG_A + "\xff\n",
             HEADER + LINE + std::string(2048, ' ')}) {
        EXPECT_FALSE(read_document_signature(bad, read, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

void forget_releases() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KORVAL", 0, KEY_SET_VALUE, &key) != 0) return;
    RegDeleteValueW(key, L"ManifestRelease");
    RegDeleteValueW(key, L"LauncherRelease");
    RegDeleteValueW(key, L"ReleaseKeys");
    RegCloseKey(key);
}

class ReleaseSignatures : public ::testing::Test {
protected:
    void SetUp() override { forget_releases(); }
    void TearDown() override { forget_releases(); }
    const std::string manifest = "{\"basePath\": \"/pc/files/r1\", \"files\": []}\n";

    // The reason a verification against `keys` gave; "" when it verified.
    std::string refusal(SignedDocument document, const std::string& bytes,
                        const std::string& signature, std::vector<std::string> keys) {
        uint64_t release = 0;
        std::string reason;
        return verify_document(document, bytes, signature, keys, release, reason) ? ""
                                                                                  : reason;
    }
};

TEST_F(ReleaseSignatures, OnlyTheDocumentTheKeysAndTheReleaseTheyNameVerify) {
    const std::string a = KEY_A.public_hex, b = KEY_B.public_hex;
    // Signed by the operators' tools (openssl), read by the launcher (CNG).
    const std::wstring fixture = KORVAL_TEST_KEYS_DIR L"/openssl_signed/manifest.json";
    const std::string served = read_file(fixture);
    ASSERT_FALSE(served.empty());
    EXPECT_EQ(refusal(SignedDocument::Manifest, served, read_file(fixture + L".sig"), {a}), "");

    const std::string signed_a = signature_file_for("manifest.json", 3, manifest, {KEY_A});
    ASSERT_FALSE(signed_a.empty());
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest, signed_a, {a}), "");
    // Either slot of a launcher that knows two keys, and a file signed by both.
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest, signed_a, {b, a}), "");
    const std::string both = signature_file_for("manifest.json", 3, manifest, {KEY_B, KEY_A});
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest, both, {a}), "");
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest, both, {b}), "");

    std::string changed = manifest;
    changed[changed.find("r1")] = 'R';
    EXPECT_EQ(refusal(SignedDocument::Manifest, changed, signed_a, {a}),
              "the signature does not match");
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest + " ", signed_a, {a}),
              "the signature does not match");
    EXPECT_EQ(refusal(SignedDocument::LauncherRecord, manifest, signed_a, {a}),
              "the signature is for 'manifest.json'");
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest, signed_a, {b}),
              "signed by an unknown key");
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest,
                      signature_file_for("manifest.json", 3, manifest, {KEY_STRANGER}), {a, b}),
              "signed by an unknown key");
    // The release number is signed too: another number, same signature.
    std::string renumbered = signed_a;
    renumbered.replace(renumbered.find("release 3"), 9, "release 4");
    EXPECT_EQ(refusal(SignedDocument::Manifest, manifest, renumbered, {a}),
              "the signature does not match");
}

TEST_F(ReleaseSignatures, AnOlderReleaseIsRefusedOnceANewerWasAccepted) {
    const std::vector<std::string> a = {KEY_A.public_hex};
    TestReleaseKeys keys(a);
    const std::string record = "{\"version\": \"0.1.5\"}";
    std::string reason;
    auto verify = [&](SignedDocument document, uint64_t release) {
        const char* name = signed_document_name(document);
        const std::string& bytes = document == SignedDocument::Manifest ? manifest : record;
        reason.clear();
        return verify_and_remember(document, bytes,
                                   signature_file_for(name, release, bytes, {KEY_A}), reason);
    };
    EXPECT_TRUE(verify(SignedDocument::Manifest, 9)) << reason;
    EXPECT_EQ(remembered_release(SignedDocument::Manifest, a), 9u);
    EXPECT_FALSE(verify(SignedDocument::Manifest, 8));
    EXPECT_EQ(reason, "release 8 is older than release 9, already accepted");
    EXPECT_TRUE(verify(SignedDocument::Manifest, 9)) << "the same release served again";
    // Each document keeps its own number.
    EXPECT_TRUE(verify(SignedDocument::LauncherRecord, 2)) << reason;
    EXPECT_EQ(remembered_release(SignedDocument::LauncherRecord, a), 2u);
    EXPECT_EQ(remembered_release(SignedDocument::Manifest, a), 9u);
    // A refused document raises nothing.
    reason.clear();
    EXPECT_FALSE(verify_and_remember(SignedDocument::Manifest, manifest,
                                     signature_file_for("manifest.json", 50, manifest,
                                                        {KEY_STRANGER}),
                                     reason));
    EXPECT_EQ(remembered_release(SignedDocument::Manifest, a), 9u);

    // A roll-over keeps a key in common, and the numbers. A launcher whose
    // keys were all replaced, as after a leak, starts over: whoever held the
    // old key could have raised its numbers to the limit.
    EXPECT_EQ(remembered_release(SignedDocument::Manifest, {KEY_B.public_hex, KEY_A.public_hex}),
              9u);
    test_release_keys = {KEY_B.public_hex};
    EXPECT_EQ(remembered_release(SignedDocument::Manifest, test_release_keys), 0u);
    reason.clear();
    EXPECT_TRUE(verify_and_remember(SignedDocument::Manifest, manifest,
                                    signature_file_for("manifest.json", 1, manifest, {KEY_B}),
                                    reason))
        << reason;
    EXPECT_EQ(remembered_release(SignedDocument::Manifest, test_release_keys), 1u);
    EXPECT_EQ(remembered_release(SignedDocument::LauncherRecord, test_release_keys), 0u)
        << "the replaced key's numbers went with it";
}

}  // namespace
