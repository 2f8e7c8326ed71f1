#include "TestCertificates.h"

#include <cstdio>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace morvane::testing {

namespace {

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) throw std::runtime_error("cannot make a key");
    return key;
}

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    if (!ext) throw std::runtime_error("bad extension " + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* MakeCertificate(EVP_PKEY* key, const CertificateTraits& traits, bool authority, X509* issuer,
                      EVP_PKEY* issuerKey) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert), traits.validFromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), traits.validToDays * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Morvane tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(traits.commonName.c_str()),
                               -1, -1, 0);
    X509* signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, signer, cert, nullptr, nullptr, 0);
    AddExtension(cert, &ctx, NID_basic_constraints,
                 authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(cert, &ctx, NID_subject_key_identifier, "hash");
    if (authority) {
        AddExtension(cert, &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert, &ctx, NID_key_usage, "critical,digitalSignature,keyAgreement");
        AddExtension(cert, &ctx, NID_ext_key_usage, "serverAuth");
        if (!traits.altNames.empty())
            AddExtension(cert, &ctx, NID_subject_alt_name, traits.altNames);
    }
    if (!X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()))
        throw std::runtime_error("cannot sign");
    return cert;
}

void WritePem(const std::filesystem::path& file, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(file.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + file.string());
    PEM_write_X509(f, cert);
    if (key) PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

} // namespace

TestCertificates::TestCertificates(std::filesystem::path dir) : dir_(std::move(dir)) {
    EVP_PKEY* key = NewKey();
    CertificateTraits traits;
    traits.commonName = "Morvane test authority";
    X509* cert = MakeCertificate(key, traits, true, nullptr, nullptr);
    caFile_ = dir_ / "ca.pem";
    WritePem(caFile_, cert, nullptr);
    caKey_ = key;
    caCert_ = cert;
}

TestCertificates::~TestCertificates() {
    X509_free(static_cast<X509*>(caCert_));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(caKey_));
}

std::filesystem::path TestCertificates::issue(const std::string& name,
                                              const CertificateTraits& traits) {
    EVP_PKEY* key = NewKey();
    X509* cert = traits.selfSigned
                     ? MakeCertificate(key, traits, false, nullptr, nullptr)
                     : MakeCertificate(key, traits, false, static_cast<X509*>(caCert_),
                                       static_cast<EVP_PKEY*>(caKey_));
    auto file = dir_ / (name + ".pem");
    WritePem(file, cert, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return file;
}

} // namespace morvane::testing
