#include "platform/SystemFigures.h"

#include <QFile>
#include <QHash>
#include <QStringList>
#include <QSysInfo>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <optional>

namespace signetrix::platform {

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    // Files under /proc report size 0: read until the end instead of by size.
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

// "Key:   value" lines, keys as written.
QHash<QString, QString> colonFields(const QString& text)
{
    QHash<QString, QString> fields;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) continue;
        const QString key = line.left(colon).trimmed();
        if (!fields.contains(key)) fields.insert(key, line.mid(colon + 1).trimmed());
    }
    return fields;
}

// A meminfo figure in bytes ("MemTotal:  16318756 kB").
std::optional<quint64> memoryBytes(const QHash<QString, QString>& meminfo, const char* key)
{
    const QString value = meminfo.value(QLatin1String(key));
    if (value.isEmpty()) return std::nullopt;
    const QStringList parts = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool ok = false;
    const quint64 number = parts.value(0).toULongLong(&ok);
    if (!ok) return std::nullopt;
    const bool kilobytes = parts.size() > 1 && parts[1].compare(QLatin1String("kB"), Qt::CaseInsensitive) == 0;
    return kilobytes ? number * 1024 : number;
}

QString decimal(std::optional<quint64> bytes)
{
    return bytes ? QString::number(*bytes) : QString();
}

std::optional<quint64> sum(std::optional<quint64> a, std::optional<quint64> b)
{
    if (!a || !b) return std::nullopt;
    return *a + *b;
}

QString unquote(QString value)
{
    if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
        && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

QString unameName()
{
    utsname names{};
    if (uname(&names) != 0) return QSysInfo::kernelType();
    return QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(names.sysname), QString::fromLocal8Bit(names.release));
}

} // namespace

QString processorName(const QString& cpuinfoText)
{
    const QHash<QString, QString> fields = colonFields(cpuinfoText);
    // x86 names it "model name"; other architectures use one of the others.
    for (const char* key : {"model name", "cpu model", "Model", "Hardware", "cpu", "Processor"}) {
        const QString value = fields.value(QLatin1String(key));
        if (!value.isEmpty()) return value;
    }
    return QSysInfo::currentCpuArchitecture();
}

QString osProductName(const QString& osReleaseText)
{
    QHash<QString, QString> fields;
    for (const QString& line : osReleaseText.split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || line.startsWith(QLatin1Char('#'))) continue;
        fields.insert(line.left(equals).trimmed(), unquote(line.mid(equals + 1).trimmed()));
    }
    if (!fields.value(QStringLiteral("PRETTY_NAME")).isEmpty()) return fields.value(QStringLiteral("PRETTY_NAME"));
    const QString name = fields.value(QStringLiteral("NAME"));
    const QString version = fields.value(QStringLiteral("VERSION"));
    return version.isEmpty() ? name : name + QLatin1Char(' ') + version;
}

QString loggedOnUser()
{
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

QList<SystemRow> systemRows(const SystemFigureFiles& files)
{
    const QHash<QString, QString> mem = colonFields(readText(files.meminfo));
    const auto swapFree = memoryBytes(mem, "SwapFree");
    const auto swapTotal = memoryBytes(mem, "SwapTotal");
    const auto memTotal = memoryBytes(mem, "MemTotal");
    // Older kernels have no MemAvailable; free memory is the nearest figure there.
    auto memAvailable = memoryBytes(mem, "MemAvailable");
    if (!memAvailable) memAvailable = memoryBytes(mem, "MemFree");

    QString os = osProductName(readText(files.osRelease));
    if (os.isEmpty()) os = unameName();

    return {
        {QStringLiteral("Processeur"), processorName(readText(files.cpuinfo))},
        {QStringLiteral("OS"), os},
        {QStringLiteral("Utilisateur"), loggedOnUser()},
        {QStringLiteral("Avail. PageFile"), decimal(swapFree)},
        {QStringLiteral("Avail. Phys"), decimal(memAvailable)},
        {QStringLiteral("Avail. Virtual"), decimal(sum(memAvailable, swapFree))},
        {QStringLiteral("Total PageFile"), decimal(swapTotal)},
        {QStringLiteral("Total Phys"), decimal(memTotal)},
        {QStringLiteral("Total Virtual"), decimal(sum(memTotal, swapTotal))},
    };
}

} // namespace signetrix::platform
