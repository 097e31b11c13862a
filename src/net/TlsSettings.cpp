#include "net/TlsSettings.h"

#include <memory>
#include <mutex>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

namespace
{
constexpr std::string_view PIN_PREFIX = "sha256//";
constexpr size_t PIN_BASE64_LENGTH = 44; // 32 bytes

std::mutex g_caLock;
std::string g_strCaBundle;

bool IsBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}
} // namespace

uint16_t GetTlsPort(TlsMode nMode, uint16_t nPort)
{
    // Port 21 is what a new site gets without thinking; implicit TLS is
    // never served there.
    if (nMode == TlsMode::implicitTls && nPort == 21)
        return INTERNET_DEFAULT_FTPS_PORT;
    return nPort;
}

std::string ComputePublicKeyPin(std::string_view strPem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> pBio(
        BIO_new_mem_buf(strPem.data(), static_cast<int>(strPem.size())), &BIO_free);
    if (!pBio)
        return {};
    std::unique_ptr<X509, decltype(&X509_free)> pCert(
        PEM_read_bio_X509(pBio.get(), nullptr, nullptr, nullptr), &X509_free);
    if (!pCert)
        return {};
    unsigned char* pDer = nullptr;
    int nDer = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(pCert.get()), &pDer);
    if (nDer <= 0)
        return {};
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(pDer, static_cast<size_t>(nDer), digest);
    OPENSSL_free(pDer);
    unsigned char base64[PIN_BASE64_LENGTH + 1];
    EVP_EncodeBlock(base64, digest, sizeof digest);
    return std::string(PIN_PREFIX) + reinterpret_cast<const char*>(base64);
}

bool IsCertificateExpired(std::string_view strPem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> pBio(
        BIO_new_mem_buf(strPem.data(), static_cast<int>(strPem.size())), &BIO_free);
    if (!pBio)
        return false;
    std::unique_ptr<X509, decltype(&X509_free)> pCert(
        PEM_read_bio_X509(pBio.get(), nullptr, nullptr, nullptr), &X509_free);
    // Negative: the end date lies before now.
    return pCert && X509_cmp_current_time(X509_get0_notAfter(pCert.get())) < 0;
}

bool IsValidPin(std::string_view strPin)
{
    if (strPin.size() != PIN_PREFIX.size() + PIN_BASE64_LENGTH ||
        strPin.substr(0, PIN_PREFIX.size()) != PIN_PREFIX)
        return false;
    std::string_view base64 = strPin.substr(PIN_PREFIX.size());
    for (size_t i = 0; i + 1 < base64.size(); ++i)
    {
        if (!IsBase64Char(base64[i]))
            return false;
    }
    return base64.back() == '=';
}

void SetTlsCaBundle(const std::string& strPath)
{
    std::lock_guard lock(g_caLock);
    g_strCaBundle = strPath;
}

std::string GetTlsCaBundle()
{
    std::lock_guard lock(g_caLock);
    return g_strCaBundle;
}
