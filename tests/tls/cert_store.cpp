// Adds the test root to the machine's Root store, or takes it out again:
//   cert_store add FILE.der     cert_store remove FILE.der
// Wine keeps the machine stores in the registry, and a certificate deleted
// through the store API comes back in the next process, so "remove" also
// deletes the certificate's own key (named by its SHA-1 hash). It finds and
// deletes one match at a time instead of enumerating, because deleting
// while enumerating never ends under Wine.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "cert_store: %s failed (%lu)\n", what, ::GetLastError());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cert_store add|remove FILE.der\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) return fail("reading the certificate");
    PCCERT_CONTEXT cert = ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!cert) return fail("CertCreateCertificateContext");
    BYTE hash[20];
    DWORD hash_size = sizeof hash;
    if (!::CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &hash_size))
        return fail("CertGetCertificateContextProperty");
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return fail("CertOpenStore");
    int rc = 0;
    if (mode == "add") {
        if (!::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            rc = fail("CertAddEncodedCertificateToStore");
    } else if (mode == "remove") {
        CRYPT_HASH_BLOB blob{hash_size, hash};
        for (int i = 0; i < 16; ++i) {
            PCCERT_CONTEXT found =
                ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
            if (!found) break;
            ::CertDeleteCertificateFromStore(found);  // frees `found` too
        }
        char key[128] = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
        char* p = key + std::char_traits<char>::length(key);
        for (DWORD i = 0; i < hash_size; ++i) p += std::sprintf(p, "%02X", hash[i]);
        const LSTATUS st = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) {
            ::SetLastError(static_cast<DWORD>(st));
            rc = fail("RegDeleteKey");
        }
    } else {
        rc = 2;
    }
    ::CertCloseStore(store, 0);
    ::CertFreeCertificateContext(cert);
    return rc;
}
