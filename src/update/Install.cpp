#include "update/Install.h"

#include "cleanup/FileOperation.h"
#include "update/UpdateFiles.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace signetrix::update {
namespace {

bool IsRunnable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

} // namespace

QString OldExecutablePath(const QString& runningExecutable)
{
    const QFileInfo info(runningExecutable);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return info.path() + QLatin1Char('/') + base + QStringLiteral(".old");
}

InstallResult SwapExecutable(const QString& runningExecutable, const QString& unpackFolder, TFileOperation& copy,
                             const std::function<void()>& pump)
{
    const auto service = [&] {
        if (pump) pump();
    };
    InstallResult result;
    const QString old = OldExecutablePath(runningExecutable);
    if (QFileInfo::exists(old)) QFile::remove(old);
    const bool renamed = QFile::rename(runningExecutable, old);
    service();

    const QString folder = QFileInfo(runningExecutable).path() + QLatin1Char('/');
    for (const QString& file : ListFolderFiles(unpackFolder)) {
        service();
        const qsizetype known = copy.ErrorString.size();
        copy.Operation = TStFileOp::fopCopy;
        copy.FailIfExists = false;
        copy.SourceFiles = {QFile::encodeName(file)};
        copy.Destination = QFile::encodeName(folder + QFileInfo(file).fileName());
        // Only this copy's texts: the component keeps every earlier one too.
        if (!copy.Execute()) result.copyErrors += copy.ErrorString.mid(known);
    }

    result.executableReady = IsRunnable(runningExecutable);
    if (!result.executableReady && renamed) {
        QFile::remove(runningExecutable);
        result.rolledBack = QFile::rename(old, runningExecutable);
        result.executableReady = IsRunnable(runningExecutable);
    }
    return result;
}

} // namespace signetrix::update
