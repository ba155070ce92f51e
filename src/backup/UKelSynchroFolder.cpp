#include "backup/UKelSynchroFolder.h"

#include "cleanup/FileOperation.h"
#include "settings/IniStore.h"

#include <QMetaObject>
#include <QMetaProperty>

namespace signetrix::backup {

namespace {

QString withTrailingDelimiter(const QString& path)
{
    return path.endsWith(u'/') ? path : path + u'/';
}

// A declared property first; otherwise an invokable method of the same name.
// Never a dynamic property, which would change nothing the user sees.
void writeCaption(QObject* form, const char* name, const QString& text)
{
    const QMetaObject* meta = form->metaObject();
    const int property = meta->indexOfProperty(name);
    if (property >= 0) {
        meta->property(property).write(form, text);
        return;
    }
    const QByteArray signature = QByteArray(name) + "(QString)";
    if (meta->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(form, name, Qt::DirectConnection, Q_ARG(QString, text));
}

} // namespace

TKelSynchroFolder::TKelSynchroFolder(QObject* owner)
    : TKelComponent(owner), m_shellOperations(new TKelShellOperations(this))
{
    m_shellOperations->Operation = TKelSHFileTypeOperations::FO_COPY;
    m_shellOperations->OptionsEx = TKelSHFileOperationOption::oFOF_SILENT | TKelSHFileOperationOption::oFOF_NOCONFIRMATION;
}

void TKelSynchroFolder::setSourceFolder(const QString& value)
{
    m_sourceFolder = withTrailingDelimiter(value);
}

void TKelSynchroFolder::setDestinationFolder(const QString& value)
{
    if (value.startsWith(QLatin1String("http://"))) {
        // The slash test looks at the value as given, so "http://x/ " gains a
        // second slash once trimmed.
        m_destinationFolder = TrimmedValue(value);
        if (!value.endsWith(u'/')) m_destinationFolder += u'/';
        return;
    }
    m_destinationFolder = withTrailingDelimiter(value);
}

void TKelSynchroFolder::setProgressFormFtp(QObject* form)
{
    m_progressFormFtp = form;
    if (!form) return;
    writeCaption(form, "CaptionData", QStringLiteral("Analyse avant synchronisation"));
    writeCaption(form, "CaptionTransfert", QStringLiteral("Transfert des images"));
}

} // namespace signetrix::backup
