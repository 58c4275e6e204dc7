// TrustCertificate.cpp - gp_trust_certificate <file.cer>: adds the build tree's test signing
// certificate to the machine's Root store, so that WinVerifyTrust accepts the DLLs the
// build signed with it. Run only in a test prefix (scripts/windows-test does it in the
// fresh WINEPREFIX); never on a machine that runs releases.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gp_trust_certificate <certificate.cer>\n");
        return 2;
    }
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "gp_trust_certificate: cannot open the certificate (%lu)\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> bytes(64 * 1024);
    DWORD size = 0;
    const BOOL read = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &size, nullptr);
    CloseHandle(file);
    if (!read || size == 0 || size == bytes.size()) {
        std::fprintf(stderr, "gp_trust_certificate: cannot read the certificate\n");
        return 1;
    }
    const HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        std::fprintf(stderr, "gp_trust_certificate: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "gp_trust_certificate: the Root store refused the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
