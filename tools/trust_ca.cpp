// Adds a DER certificate to the LocalMachine "Root" store of the current Wine prefix,
// so that the test patch server's HTTPS certificate verifies. Test tooling only.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_ca CERT.der\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fprintf(stderr, "trust_ca: cannot read the certificate\n");
        return 1;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fprintf(stderr, "trust_ca: CertOpenStore failed: %lu\n", GetLastError());
        return 1;
    }
    BOOL const ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                     nullptr);
    DWORD const error = GetLastError();
    CertCloseStore(store, 0);
    if (!ok) {
        std::fprintf(stderr, "trust_ca: CertAddEncodedCertificateToStore failed: %lu\n", error);
        return 1;
    }
    return 0;
}
