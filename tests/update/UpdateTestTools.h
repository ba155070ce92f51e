#pragma once
// Helpers of the update tests: a ZIP writer that sets names, times and
// attributes exactly (libzip directly), running the real tools that sign a
// release (minisign and the server's publish command), and a scoped time zone.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <optional>
#include <vector>

namespace signetrix::update::test {

inline QByteArray native(const QString& path) { return QFile::encodeName(path); }

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

// One entry to write; built as ZipEntry::file("a/b", "data").mode(0100755)...
struct ZipEntry {
    QByteArray name;
    QByteArray data;
    bool folder = false;                                // written as zip_dir_add writes one
    std::optional<quint32> unixMode;                    // made by Unix, attributes mode << 16
    std::optional<quint32> dosAttributes;               // made by MS-DOS with these attributes
    std::optional<std::pair<quint16, quint16>> dosTime; // (time, date) fields
    std::optional<qint32> extendedTimestamp;            // 0x5455 with the modification time
    bool extendedTimestampLocalOnly = false;
    std::optional<std::pair<qint32, qint32>> oldUnixTimes; // 0x5855: access, modification
    bool stored = false;                                   // no compression, so a test can find and alter the bytes

    static ZipEntry file(const QByteArray& name, const QByteArray& data)
    {
        ZipEntry e;
        e.name = name;
        e.data = data;
        return e;
    }
    static ZipEntry folderEntry(const QByteArray& name)
    {
        ZipEntry e;
        e.name = name;
        e.folder = true;
        return e;
    }
    ZipEntry mode(quint32 unixBits) const
    {
        return with([&](ZipEntry& e) { e.unixMode = unixBits; });
    }
    ZipEntry madeByDos(quint32 attributes) const
    {
        return with([&](ZipEntry& e) { e.dosAttributes = attributes; });
    }
    ZipEntry dosAt(std::pair<quint16, quint16> fields) const
    {
        return with([&](ZipEntry& e) { e.dosTime = fields; });
    }
    ZipEntry extended(qint32 mtime, bool localOnly = false) const
    {
        return with([&](ZipEntry& e) {
            e.extendedTimestamp = mtime;
            e.extendedTimestampLocalOnly = localOnly;
        });
    }
    ZipEntry oldUnix(qint32 atime, qint32 mtime) const
    {
        return with([&](ZipEntry& e) { e.oldUnixTimes = std::pair{atime, mtime}; });
    }
    ZipEntry store() const
    {
        return with([](ZipEntry& e) { e.stored = true; });
    }

private:
    template <typename F> ZipEntry with(F change) const
    {
        ZipEntry copy = *this;
        change(copy);
        return copy;
    }
};

// Writes the archive; false (with a test failure) when libzip refuses.
inline bool writeZip(const QString& path, const std::vector<ZipEntry>& entries)
{
    int code = 0;
    zip_t* za = zip_open(native(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za) {
        ADD_FAILURE() << "zip_open " << code;
        return false;
    }
    std::deque<QByteArray> kept; // libzip reads the buffers at zip_close
    auto failed = [za](const char* what) {
        ADD_FAILURE() << what << ": " << zip_strerror(za);
        zip_discard(za);
        return false;
    };
    for (const ZipEntry& e : entries) {
        zip_int64_t index;
        if (e.folder) {
            index = zip_dir_add(za, e.name.constData(), ZIP_FL_ENC_UTF_8);
        } else {
            kept.push_back(e.data);
            zip_source_t* src = zip_source_buffer(za, kept.back().constData(), zip_uint64_t(kept.back().size()), 0);
            if (!src) return failed("zip_source_buffer");
            index = zip_file_add(za, e.name.constData(), src, ZIP_FL_ENC_UTF_8);
            if (index < 0) zip_source_free(src);
        }
        if (index < 0) return failed("add");
        const auto at = zip_uint64_t(index);
        if (e.stored && zip_set_file_compression(za, at, ZIP_CM_STORE, 0) != 0) return failed("store");
        if (e.unixMode && zip_file_set_external_attributes(za, at, 0, ZIP_OPSYS_UNIX, *e.unixMode << 16) != 0)
            return failed("unix attributes");
        if (e.dosAttributes && zip_file_set_external_attributes(za, at, 0, ZIP_OPSYS_DOS, *e.dosAttributes) != 0)
            return failed("dos attributes");
        if (e.dosTime && zip_file_set_dostime(za, at, e.dosTime->first, e.dosTime->second, 0) != 0)
            return failed("dos time");
        if (e.extendedTimestamp) {
            const auto t = quint32(*e.extendedTimestamp);
            const zip_uint8_t field[5] = {0x01, zip_uint8_t(t), zip_uint8_t(t >> 8), zip_uint8_t(t >> 16),
                                          zip_uint8_t(t >> 24)};
            const zip_flags_t where = e.extendedTimestampLocalOnly ? ZIP_FL_LOCAL : ZIP_FL_LOCAL | ZIP_FL_CENTRAL;
            if (zip_file_extra_field_set(za, at, 0x5455, ZIP_EXTRA_FIELD_NEW, field, sizeof field, where) < 0)
                return failed("extended timestamp");
        }
        if (e.oldUnixTimes) {
            const auto a = quint32(e.oldUnixTimes->first), m = quint32(e.oldUnixTimes->second);
            const zip_uint8_t field[8] = {zip_uint8_t(a),       zip_uint8_t(a >> 8), zip_uint8_t(a >> 16),
                                          zip_uint8_t(a >> 24), zip_uint8_t(m),      zip_uint8_t(m >> 8),
                                          zip_uint8_t(m >> 16), zip_uint8_t(m >> 24)};
            if (zip_file_extra_field_set(za, at, 0x5855, ZIP_EXTRA_FIELD_NEW, field, sizeof field,
                                         ZIP_FL_LOCAL | ZIP_FL_CENTRAL) < 0)
                return failed("old unix field");
        }
    }
    if (zip_close(za) != 0) return failed("zip_close");
    return true;
}

// DOS time fields of a local date and time.
inline std::pair<quint16, quint16> dosFields(int year, int month, int day, int hour, int minute, int second)
{
    return {quint16(hour << 11 | minute << 5 | second / 2), quint16((year - 1980) << 9 | month << 5 | day)};
}

struct ProcessRun {
    int exitCode = -1;
    QByteArray output;
};

// Runs a tool to its end (no input); the exit code is -1 when it could not run.
inline ProcessRun runTool(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, arguments);
    ProcessRun run;
    if (!p.waitForStarted(30000)) return run;
    p.waitForFinished(120000);
    run.output = p.readAll();
    if (p.exitStatus() == QProcess::NormalExit) run.exitCode = p.exitCode();
    return run;
}

inline const QString kMinisign = QStringLiteral("/usr/bin/minisign");

// The maker's server built beside this test program (its build folder's
// server/ folder); built by the same build command as the tests.
inline QString serverProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../server/signetrix_server");
}

inline QString sourceFile(const QString& relative) { return QStringLiteral(SIGNETRIX_SOURCE_DIR "/") + relative; }

// Sets TZ for one scope; the C library and Qt both read it again.
class TimeZoneGuard {
public:
    explicit TimeZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) m_old = QByteArray(old);
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZoneGuard()
    {
        if (m_old)
            ::setenv("TZ", m_old->constData(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TimeZoneGuard(const TimeZoneGuard&) = delete;
    TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;

private:
    std::optional<QByteArray> m_old;
};

} // namespace signetrix::update::test
