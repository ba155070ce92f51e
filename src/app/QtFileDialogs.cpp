#include "app/QtFileDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace signetrix {
namespace {

// "Page HTML (*.html *.htm)" -> "html".
QString firstExtension(const QString& nameFilter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    return pattern.match(nameFilter).captured(1);
}

} // namespace

QString askSaveFileNameWithQt(const QString& caption, const QString& suggestedPath, const QString& filter)
{
    QFileDialog dialog(QApplication::activeWindow(), caption, QFileInfo(suggestedPath).path(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(suggestedPath);
    dialog.setDefaultSuffix(firstExtension(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& chosen) { dialog.setDefaultSuffix(firstExtension(chosen)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace signetrix
