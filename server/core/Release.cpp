#include "core/Release.h"

#include "core/TempFiles.h"
#include "net/Endpoints.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::server {
namespace {

namespace ep = signetrix::net::endpoints;

// Info-ZIP's extended timestamp: DOS times hold local time in steps of two
// seconds; this field keeps the exact modification time for readers that know it.
constexpr zip_uint16_t kExtendedTimestampField = 0x5455;

struct Input {
    QString path;
    QString name;
    FILE* stream = nullptr; // handed to libzip, which closes it
    struct stat info {};
};

PublishResult Failed(const QString& text)
{
    PublishResult result;
    result.error = text;
    return result;
}

QString ZipError(zip_t* archive)
{
    return QString::fromLocal8Bit(zip_strerror(archive));
}

bool SyncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Opens every input once and checks it is a regular file of a name not seen yet.
bool OpenInputs(const QStringList& files, std::vector<Input>& inputs, QString* error)
{
    QSet<QString> names;
    for (const QString& path : files) {
        Input input;
        input.path = path;
        input.name = QFileInfo(path).fileName();
        if (input.name.isEmpty()) {
            *error = QStringLiteral("%1: no file name").arg(path);
            return false;
        }
        if (names.contains(input.name)) {
            *error = QStringLiteral("two files are named %1").arg(input.name);
            return false;
        }
        names.insert(input.name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (::fstat(fd, &input.info) != 0 || !S_ISREG(input.info.st_mode)) {
            ::close(fd);
            *error = QStringLiteral("%1: not a regular file").arg(path);
            return false;
        }
        input.stream = ::fdopen(fd, "rb");
        if (!input.stream) {
            ::close(fd);
            *error = QStringLiteral("%1: cannot be read").arg(path);
            return false;
        }
        inputs.push_back(input);
    }
    if (inputs.empty()) {
        *error = QStringLiteral("no file to publish");
        return false;
    }
    return true;
}

void CloseInputs(std::vector<Input>& inputs)
{
    for (Input& input : inputs)
        if (input.stream) std::fclose(input.stream);
    inputs.clear();
}

bool AddInput(zip_t* archive, Input& input, QString* error)
{
    zip_source_t* source = zip_source_filep(archive, input.stream, 0, -1);
    if (!source) {
        *error = QStringLiteral("%1: %2").arg(input.path, ZipError(archive));
        return false;
    }
    input.stream = nullptr; // the source owns it now
    const QByteArray name = input.name.toUtf8();
    const zip_int64_t index = zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        *error = QStringLiteral("%1: %2").arg(input.path, ZipError(archive));
        return false;
    }
    const auto at = zip_uint64_t(index);
    const auto mtime = quint32(input.info.st_mtime);
    const zip_uint8_t timestamp[5] = {0x01, zip_uint8_t(mtime), zip_uint8_t(mtime >> 8), zip_uint8_t(mtime >> 16),
                                      zip_uint8_t(mtime >> 24)};
    const zip_uint32_t attributes = zip_uint32_t(S_IFREG | (input.info.st_mode & 07777)) << 16;
    if (zip_set_file_compression(archive, at, ZIP_CM_DEFLATE, 9) != 0 ||
        zip_file_set_mtime(archive, at, input.info.st_mtime, 0) != 0 ||
        zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, attributes) != 0 ||
        zip_file_extra_field_set(archive, at, kExtendedTimestampField, ZIP_EXTRA_FIELD_NEW, timestamp,
                                 sizeof timestamp, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) < 0) {
        *error = QStringLiteral("%1: %2").arg(input.path, ZipError(archive));
        return false;
    }
    return true;
}

bool BuildArchive(const QString& target, std::vector<Input>& inputs, QString* error)
{
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(target).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, code);
        *error = QStringLiteral("%1: %2").arg(target, QString::fromLocal8Bit(zip_error_strerror(&zipError)));
        zip_error_fini(&zipError);
        return false;
    }
    for (Input& input : inputs) {
        if (!AddInput(archive, input, error)) {
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) != 0) {
        *error = QStringLiteral("%1: %2").arg(target, ZipError(archive));
        zip_discard(archive);
        return false;
    }
    return true;
}

} // namespace

PublishResult PublishRelease(const QString& downloadFolder, const MinisignSecretKey& key, const QStringList& files)
{
    if (!QDir().mkpath(downloadFolder)) return Failed(QStringLiteral("cannot create %1").arg(downloadFolder));
    const QDir folder(downloadFolder);
    const QString archivePath = folder.filePath(QString::fromLatin1(ep::kReleaseArchiveName));
    const QString signaturePath = folder.filePath(QString::fromLatin1(ep::kReleaseSignatureName));

    std::vector<Input> inputs;
    QString error;
    if (!OpenInputs(files, inputs, &error)) {
        CloseInputs(inputs);
        return Failed(error);
    }
    const QString temporary = UniqueTemporaryPath(archivePath);
    const bool built = BuildArchive(temporary, inputs, &error);
    CloseInputs(inputs);
    if (!built || !SyncFile(temporary)) {
        QFile::remove(temporary);
        return Failed(built ? QStringLiteral("cannot write %1").arg(temporary) : error);
    }

    const std::optional<QByteArray> digest = Blake2b512OfFile(temporary, &error);
    const QByteArray comment = "timestamp:" + QByteArray::number(QDateTime::currentSecsSinceEpoch()) + "\tfile:" +
                               QByteArray(ep::kReleaseArchiveName) + "\thashed";
    const std::optional<QByteArray> signature =
        digest ? MinisignSignature(key, *digest, comment, &error) : std::nullopt;
    if (!signature) {
        QFile::remove(temporary);
        return Failed(error);
    }
    QSaveFile signatureFile(signaturePath);
    if (!signatureFile.open(QIODevice::WriteOnly) || signatureFile.write(*signature) != signature->size()) {
        QFile::remove(temporary);
        return Failed(QStringLiteral("cannot write %1: %2").arg(signaturePath, signatureFile.errorString()));
    }
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(archivePath).constData()) != 0) {
        signatureFile.cancelWriting();
        QFile::remove(temporary);
        return Failed(QStringLiteral("cannot replace %1: %2").arg(archivePath, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!signatureFile.commit())
        return Failed(QStringLiteral("cannot replace %1: %2").arg(signaturePath, signatureFile.errorString()));

    PublishResult result;
    result.ok = true;
    result.archivePath = archivePath;
    result.signaturePath = signaturePath;
    return result;
}

} // namespace signetrix::server
