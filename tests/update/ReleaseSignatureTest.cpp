// The release signature check against signatures made by the real tools: the
// server's publish command with the loopback key, and minisign itself with
// key pairs made for the test (prehashed and legacy), then every way a
// signature, its key or the archive can be wrong.
#include "update/ReleaseSignature.h"

#include "UpdateTestTools.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace signetrix::update {
namespace {

using namespace test;

struct KeyPair {
    QString secretPath;
    QByteArray publicFile; // the whole .pub file
    QByteArray publicLine() const { return publicFile.split('\n').value(1).trimmed(); }
};

// What every case starts from, made once: minisign is slow to make keys.
struct Material {
    QTemporaryDir dir;
    QString archive; // larger than one read chunk, so chunking is exercised
    QByteArray archiveBytes;
    KeyPair a, b;
    QByteArray signedByA, legacyByA, signedByB;
    QString error;
};

Material* g_material = nullptr;

bool makeKeyPair(const QString& folder, const QString& name, KeyPair& pair, QString& error)
{
    pair.secretPath = folder + '/' + name + ".key";
    const QString pub = folder + '/' + name + ".pub";
    const ProcessRun run = runTool(kMinisign, {"-G", "-W", "-f", "-p", pub, "-s", pair.secretPath});
    pair.publicFile = readAll(pub);
    if (run.exitCode != 0 || pair.publicFile.isEmpty()) {
        error = "minisign -G: " + QString::fromLocal8Bit(run.output);
        return false;
    }
    return true;
}

bool sign(const QString& archive, const KeyPair& pair, bool legacy, QByteArray& signature, QString& error)
{
    const QString sigPath = archive + (legacy ? ".legacy.minisig" : ".minisig");
    QStringList arguments{"-S", "-s", pair.secretPath, "-m", archive, "-x", sigPath, "-t", "release 2.0"};
    if (legacy) arguments.prepend("-l");
    const ProcessRun run = runTool(kMinisign, arguments);
    signature = readAll(sigPath);
    if (run.exitCode != 0 || signature.isEmpty()) {
        error = "minisign -S: " + QString::fromLocal8Bit(run.output);
        return false;
    }
    return true;
}

class ReleaseSignatureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto* m = new Material;
        g_material = m;
        QByteArray bytes;
        for (int i = 0; bytes.size() < 300 * 1024 + 17; ++i)
            bytes += QByteArray::number(i * 7919) + ',';
        m->archiveBytes = bytes;
        m->archive = m->dir.filePath("Signetrix.zip");
        if (!writeAll(m->archive, bytes)) m->error = "cannot write the archive";
        if (m->error.isEmpty() && makeKeyPair(m->dir.path(), "a", m->a, m->error) &&
            makeKeyPair(m->dir.path(), "b", m->b, m->error) && sign(m->archive, m->a, false, m->signedByA, m->error) &&
            sign(m->archive, m->a, true, m->legacyByA, m->error)) {
            // B signs a copy, so the archive keeps A's signature file name free.
            const QString copy = m->dir.filePath("copy.zip");
            writeAll(copy, bytes);
            sign(copy, m->b, false, m->signedByB, m->error);
        }
    }
    static void TearDownTestSuite()
    {
        delete g_material;
        g_material = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(g_material->error.isEmpty()) << g_material->error.toStdString(); }

    const Material& m() const { return *g_material; }
    QString writeArchive(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_work.filePath(name);
        EXPECT_TRUE(writeAll(path, bytes));
        return path;
    }

    QTemporaryDir m_work;
};

// Signature text with one decoded line changed and encoded again.
QByteArray withLine(const QByteArray& signature, int line, const std::function<void(QByteArray&)>& change)
{
    QByteArrayList lines = signature.split('\n');
    QByteArray decoded = QByteArray::fromBase64(lines[line]);
    change(decoded);
    lines[line] = decoded.toBase64();
    return lines.join('\n');
}

QByteArray flipByte(QByteArray bytes, qsizetype at)
{
    bytes[at] = char(bytes[at] ^ 0x01);
    return bytes;
}

TEST_F(ReleaseSignatureTest, AcceptsWhatTheServersPublishCommandSigns)
{
    const QString server = serverProgram();
    ASSERT_TRUE(QFile::exists(server)) << "build the signetrix_server target first: " << server.toStdString();
    QTemporaryDir data;
    const QString program = writeArchive("Signetrix", "the program's bytes\n");
    const ProcessRun run =
        runTool(server, {"publish", "--data", data.path(), "--key", sourceFile("server/keys/loopback.key"), program});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QString archive = data.filePath("download/Signetrix.zip");
    const QByteArray signature = readAll(archive + ".minisig");
    const QByteArray pubFile = readAll(sourceFile("server/keys/loopback.pub"));
    ASSERT_FALSE(signature.isEmpty());

    SignatureResult result = VerifyReleaseSignature(archive, signature, pubFile);
    EXPECT_TRUE(result.ok) << result.reason.toStdString();
    result = VerifyReleaseSignature(archive, signature, pubFile.split('\n').value(1));
    EXPECT_TRUE(result.ok) << "the bare key line: " << result.reason.toStdString();
    // The same release checked against a key it was not made with.
    EXPECT_FALSE(VerifyReleaseSignature(archive, signature, m().a.publicFile).ok);
}

TEST_F(ReleaseSignatureTest, AcceptsMinisignSignaturesInEveryAcceptedForm)
{
    struct Case {
        const char* what;
        QByteArray signature;
        QByteArray key;
    };
    QByteArray crlf = m().signedByA;
    crlf.replace("\n", "\r\n");
    QByteArray keyCrlf = m().a.publicFile;
    keyCrlf.replace("\n", "\r\n");
    QByteArray noFinalBreak = m().signedByA;
    noFinalBreak.chop(1);
    const Case cases[] = {
        {"prehashed, .pub file", m().signedByA, m().a.publicFile},
        {"prehashed, bare key line", m().signedByA, m().a.publicLine()},
        {"legacy", m().legacyByA, m().a.publicFile},
        {"CRLF line breaks", crlf, keyCrlf},
        {"no final line break", noFinalBreak, m().a.publicLine()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SignatureResult result = VerifyReleaseSignature(m().archive, c.signature, c.key);
        EXPECT_TRUE(result.ok) << result.reason.toStdString();
        EXPECT_TRUE(result.reason.isEmpty());
    }
}

TEST_F(ReleaseSignatureTest, RefusesEveryAlteration)
{
    const QByteArray& bytes = m().archiveBytes;
    const QByteArray& sig = m().signedByA;
    const QByteArray idOfA = QByteArray::fromBase64(m().a.publicLine()).mid(2, 8);
    struct Case {
        const char* what;
        QByteArray archive; // bytes of the archive checked
        QByteArray signature;
        QByteArray key;
    };
    QByteArray commentAltered = sig;
    commentAltered.replace("release 2.0", "release 9.0");
    QByteArray commentGone = sig;
    commentGone.replace("trusted comment: release 2.0", "trusted comment: ");
    QByteArrayList lines = sig.split('\n');
    const Case cases[] = {
        {"archive byte flipped in the first chunk", flipByte(bytes, 10), sig, m().a.publicFile},
        {"archive byte flipped in the last chunk", flipByte(bytes, bytes.size() - 1), sig, m().a.publicFile},
        {"archive one byte longer", bytes + 'x', sig, m().a.publicFile},
        {"archive one byte shorter", bytes.chopped(1), sig, m().a.publicFile},
        {"legacy signature, archive altered", flipByte(bytes, bytes.size() / 2), m().legacyByA, m().a.publicFile},
        {"trusted comment altered", bytes, commentAltered, m().a.publicFile},
        {"trusted comment emptied", bytes, commentGone, m().a.publicFile},
        {"global signature altered", bytes, withLine(sig, 3, [](QByteArray& d) { d[5] = char(d[5] ^ 0x40); }),
         m().a.publicFile},
        {"signature bytes altered", bytes, withLine(sig, 1, [](QByteArray& d) { d[30] = char(d[30] ^ 0x01); }),
         m().a.publicFile},
        {"legacy mark on a prehashed signature", bytes, withLine(sig, 1, [](QByteArray& d) { d[1] = 'd'; }),
         m().a.publicFile},
        {"unknown algorithm", bytes, withLine(sig, 1, [](QByteArray& d) { d[0] = 'X'; }), m().a.publicFile},
        {"another key pair's signature (its key id)", bytes, m().signedByB, m().a.publicFile},
        {"another key pair's signature under our key id", bytes,
         withLine(m().signedByB, 1, [&](QByteArray& d) { d.replace(2, 8, idOfA); }), m().a.publicFile},
        {"our signature, another key", bytes, sig, m().b.publicFile},
        {"key id of the signature altered", bytes, withLine(sig, 1, [](QByteArray& d) { d[2] = char(d[2] ^ 1); }),
         m().a.publicFile},
        {"empty signature", bytes, QByteArray(), m().a.publicFile},
        {"signature cut after two lines", bytes, lines.mid(0, 2).join('\n') + '\n', m().a.publicFile},
        {"signature cut inside the last line", bytes, sig.left(sig.size() - 20), m().a.publicFile},
        {"signature with a fifth line", bytes, sig + "extra\n", m().a.publicFile},
        {"garbage signature", bytes, QByteArray("hello\nworld\nthis is\nnot base64 !!\n"), m().a.publicFile},
        {"signature line not base64", bytes,
         QByteArrayList{lines[0], "###" + lines[1].mid(3), lines[2], lines[3]}.join('\n'), m().a.publicFile},
        {"no untrusted comment line", bytes, QByteArrayList{"comment: x", lines[1], lines[2], lines[3]}.join('\n'),
         m().a.publicFile},
        {"empty key", bytes, sig, QByteArray()},
        {"garbage key", bytes, sig, QByteArray("not a key")},
        {"key line cut short", bytes, sig, m().a.publicLine().left(40)},
        {"key of another algorithm", bytes, sig,
         (QByteArray("Xd") + QByteArray::fromBase64(m().a.publicLine()).mid(2)).toBase64()},
        {"two key lines", bytes, sig, m().a.publicLine() + '\n' + m().b.publicLine()},
        {"our key id over another key", bytes, sig,
         (QByteArray("Ed") + idOfA + QByteArray::fromBase64(m().b.publicLine()).mid(10)).toBase64()},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString archive = writeArchive(QStringLiteral("case%1.zip").arg(n++), c.archive);
        const SignatureResult result = VerifyReleaseSignature(archive, c.signature, c.key);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.reason.isEmpty());
    }
}

TEST_F(ReleaseSignatureTest, RefusesAnArchiveThatCannotBeRead)
{
    const QString folder = m_work.filePath("folder.zip");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& path : {m_work.filePath("missing.zip"), folder, QString()}) {
        SCOPED_TRACE(path.toStdString());
        for (const QByteArray& signature : {m().signedByA, m().legacyByA}) {
            const SignatureResult result = VerifyReleaseSignature(path, signature, m().a.publicFile);
            EXPECT_FALSE(result.ok);
            EXPECT_FALSE(result.reason.isEmpty());
        }
    }
}

TEST(ReleasePublicKeyTest, IsTheBuildsKeyUnlessATestReplacesIt)
{
    const QByteArray built = ReleasePublicKey();
    EXPECT_EQ(built, QByteArray(SIGNETRIX_TEST_RELEASE_PUBLIC_KEY));
    EXPECT_FALSE(built.isEmpty());
    SetReleasePublicKeyForTesting("RWTsomeotherkey");
    EXPECT_EQ(ReleasePublicKey(), QByteArray("RWTsomeotherkey"));
    SetReleasePublicKeyForTesting(QByteArray());
    EXPECT_EQ(ReleasePublicKey(), built);
}

} // namespace
} // namespace signetrix::update
