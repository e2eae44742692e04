// orvtrust: adds a certificate to the current user's "Root" store, so that WinHTTP in this Wine
// prefix trusts the test mirrors' self-signed certificate.
//
//   orvtrust CERTFILE      (DER, or PEM with a "-----BEGIN CERTIFICATE-----" block)
//
// Adding it again replaces it. Exit code 0 when the certificate is in the store, 1 when it could not
// be read or added, 2 on bad usage.
#include "core/handles.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct CertStoreTraits {
    using Value = HCERTSTORE;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::CertCloseStore(v, 0); }
};
using CertStore = Orv::UniqueHandle<CertStoreTraits>;

struct CertContextTraits {
    using Value = PCCERT_CONTEXT;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::CertFreeCertificateContext(v); }
};
using CertContext = Orv::UniqueHandle<CertContextTraits>;

int Fail(const char* what, DWORD error) {
    std::fprintf(stderr, "orvtrust: %s (error %lu, 0x%08lX)\n", what, static_cast<unsigned long>(error),
                 static_cast<unsigned long>(error));
    return 1;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    Orv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 1024 * 1024) {
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        return false;
    }
    return true;
}

// The DER bytes of the file: the file itself, or the base64 block of a PEM file.
bool ToDer(const std::string& file, std::vector<BYTE>& der) {
    if (file.find("-----BEGIN") == std::string::npos) {
        der.assign(file.begin(), file.end());
        return !der.empty();
    }
    DWORD size = 0;
    const auto length = static_cast<DWORD>(file.size());
    if (!::CryptStringToBinaryA(file.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                                nullptr)) {
        return false;
    }
    der.resize(size);
    if (!::CryptStringToBinaryA(file.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                nullptr)) {
        return false;
    }
    der.resize(size);
    return true;
}

std::string SubjectOf(PCCERT_CONTEXT cert) {
    char name[256] = {};
    ::CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
    return name;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: orvtrust CERTFILE (DER or PEM)\n", stderr);
        return 2;
    }
    std::string file;
    if (!ReadWholeFile(argv[1], file)) {
        return Fail("cannot read the certificate file", ::GetLastError());
    }
    std::vector<BYTE> der;
    if (!ToDer(file, der)) {
        return Fail("the file holds no DER or PEM certificate", ::GetLastError());
    }

    CertStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
    if (!store) {
        return Fail("cannot open the current user's Root store", ::GetLastError());
    }
    PCCERT_CONTEXT added = nullptr;
    if (!::CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                            &added)) {
        return Fail("cannot add the certificate to the current user's Root store", ::GetLastError());
    }
    const CertContext cert(added);
    std::printf("orvtrust: \"%s\" is in the current user's Root store\n", SubjectOf(cert.Get()).c_str());
    return 0;
}
