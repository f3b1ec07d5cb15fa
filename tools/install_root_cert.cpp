// Adds a DER certificate to the LocalMachine "Root" store of the current Wine
// prefix, so that WinHTTP trusts the local test content server with full
// certificate validation. Usage: install_root_cert.exe CERT.der
#include <cstdio>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: install_root_cert CERT.der\n");
        return 2;
    }
    FILE* f = _wfopen(argv[1], L"rb");
    if (!f) {
        std::fprintf(stderr, "cannot open the certificate\n");
        return 1;
    }
    std::vector<unsigned char> der;
    unsigned char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) der.insert(der.end(), buffer, buffer + n);
    std::fclose(f);

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
        return 1;
    }
    BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                               static_cast<DWORD>(der.size()),
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!ok) {
        std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", error);
        return 1;
    }
    return 0;
}
