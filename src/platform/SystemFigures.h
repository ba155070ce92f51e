#pragma once
// The nine figures of the about box's system list, read from the running
// system: processor and memory from /proc, the OS name from os-release (uname
// when that says nothing), the user from the password database.
//
// Memory is given in bytes as plain decimal numbers. The page file is the swap
// space; virtual memory is physical memory plus swap. A figure the system does
// not give stays empty.
#include <QList>
#include <QString>

namespace signetrix::platform {

struct SystemRow {
    QString key;
    QString value;
};

// Where the figures are read; tests point these at small files of their own.
struct SystemFigureFiles {
    QString cpuinfo = QStringLiteral("/proc/cpuinfo");
    QString meminfo = QStringLiteral("/proc/meminfo");
    QString osRelease = QStringLiteral("/etc/os-release");
};

// The nine rows, always in this order: "Processeur", "OS", "Utilisateur",
// "Avail. PageFile", "Avail. Phys", "Avail. Virtual", "Total PageFile",
// "Total Phys", "Total Virtual".
QList<SystemRow> systemRows(const SystemFigureFiles& files = SystemFigureFiles());

// Pieces, for the rows above.
QString processorName(const QString& cpuinfoText);
QString osProductName(const QString& osReleaseText); // empty when it names nothing
QString loggedOnUser();

} // namespace signetrix::platform
