#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace signetrix::test {
namespace {

QTemporaryDir& certificateFolder()
{
    static QTemporaryDir dir;
    return dir;
}

bool run(const QString& folder, const QStringList& arguments, QString& error)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        error = QStringLiteral("openssl %1: %2").arg(arguments.join(' '), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

const QStringList kEcKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

} // namespace

const TestCertificates& TestCertificates::instance()
{
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates()
{
    QTemporaryDir& dir = certificateFolder();
    if (!dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    m_dir = dir.path();
    const QString d = m_dir;
    auto req = [](QStringList extra) { return QStringList{QStringLiteral("req")} + kEcKey + extra; };
    // <name>.key and <name>.pem signed by the test CA, with the extensions of <name>.ext.
    auto signedByCa = [&](const QString& name, const QString& subject) {
        return run(d, req({"-keyout", name + ".key", "-out", name + ".csr", "-subj", subject}), m_error) &&
               run(d, {"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                       "-days", "3", "-extfile", name + ".ext", "-out", name + ".pem"}, m_error);
    };
    m_ok = writeText(d + "/server.ext",
                     "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                     "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n") &&
           writeText(d + "/wrong.ext",
                     "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:elsewhere.invalid\n") &&
           run(d, req({"-x509", "-days", "3", "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Signetrix Test CA",
                       "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}),
               m_error) &&
           signedByCa(QStringLiteral("server"), QStringLiteral("/CN=127.0.0.1")) &&
           signedByCa(QStringLiteral("wrong"), QStringLiteral("/CN=elsewhere.invalid")) &&
           run(d, req({"-x509", "-days", "3", "-keyout", "self.key", "-out", "self.pem", "-subj", "/CN=127.0.0.1",
                       "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"}),
               m_error);
}

HttpTestServer::TlsSetup TestCertificates::trusted() const { return {m_dir + "/server.pem", m_dir + "/server.key"}; }
HttpTestServer::TlsSetup TestCertificates::wrongHost() const { return {m_dir + "/wrong.pem", m_dir + "/wrong.key"}; }
HttpTestServer::TlsSetup TestCertificates::selfSigned() const { return {m_dir + "/self.pem", m_dir + "/self.key"}; }

} // namespace signetrix::test
