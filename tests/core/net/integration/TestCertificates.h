#pragma once
// Certificates made for one test: a certificate authority of its own and server certificates
// it signs (or that sign themselves), each written as one PEM file holding the certificate and
// its key, as the servers under test read them.

#include <filesystem>
#include <string>

namespace morvane::testing {

struct CertificateTraits {
    std::string commonName = "127.0.0.1";
    std::string altNames = "IP:127.0.0.1,DNS:localhost"; // subjectAltName
    long validFromDays = -1;
    long validToDays = 30;
    bool selfSigned = false;
};

class TestCertificates {
public:
    explicit TestCertificates(std::filesystem::path dir);
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // The authority's certificate alone: what a client trusts.
    const std::filesystem::path& caFile() const { return caFile_; }
    // Writes dir/name.pem (certificate and key) and returns its path.
    std::filesystem::path issue(const std::string& name, const CertificateTraits& traits = {});

private:
    std::filesystem::path dir_;
    std::filesystem::path caFile_;
    void* caKey_ = nullptr;
    void* caCert_ = nullptr;
};

} // namespace morvane::testing
