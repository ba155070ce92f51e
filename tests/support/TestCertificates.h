#pragma once
// Certificates for TLS tests, made once per test process with the openssl
// command-line tool in a temporary folder (no key material is kept in the
// source tree):
//   caFile()             a test CA that the client under test is told to trust
//   trusted()            a server certificate for 127.0.0.1 / ::1 / localhost signed by that CA
//   wrongHost()          signed by that CA but for another host name
//   selfSigned()         a self-signed certificate for 127.0.0.1 that nothing trusts
// available() is false (and the files empty) when openssl could not run.
#include "support/HttpTestServer.h"

namespace signetrix::test {

class TestCertificates {
public:
    static const TestCertificates& instance();
    bool available() const { return m_ok; }
    QString caFile() const { return m_dir + QStringLiteral("/ca.pem"); }
    HttpTestServer::TlsSetup trusted() const;
    HttpTestServer::TlsSetup wrongHost() const;
    HttpTestServer::TlsSetup selfSigned() const;
    QString error() const { return m_error; }

private:
    TestCertificates();
    QString m_dir;
    bool m_ok = false;
    QString m_error;
};

} // namespace signetrix::test
