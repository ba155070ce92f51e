#include "settings/IniStore.h"

#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ProfileStrings.h"

namespace signetrix {
QString TrimmedValue(const QString& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b].unicode() <= ' ') ++b;
    while (e > b && text[e - 1].unicode() <= ' ') --e;
    return text.mid(b, e - b);
}

IniStore::IniStore() = default;

IniStore::IniStore(QString filePath) : m_filePath(std::move(filePath)) {}

QString IniStore::fileName() const
{
    return m_filePath.isEmpty() ? platform::settingsFilePath() : m_filePath;
}

QString IniStore::readString(const QString& section, const QString& key, const QString& def) const
{
    const QByteArray value = platform::getProfileString(fs::nativeFromWide(fileName()), codepage::toAnsi(section),
                                                        codepage::toAnsi(key), codepage::toAnsi(def),
                                                        MaxValueChars);
    return TrimmedValue(codepage::fromAnsi(value));
}

void IniStore::writeString(const QString& section, const QString& key, const QString& value)
{
    // A line break inside a value would end the line early and let the rest of
    // the value pose as a key of its own; keep every value on its one line.
    QByteArray bytes = codepage::toAnsi(value);
    bytes.replace('\r', ' ').replace('\n', ' ');
    const QString path = fileName();
    if (!platform::writeProfileString(fs::nativeFromWide(path), codepage::toAnsi(section), codepage::toAnsi(key),
                                      bytes))
        throw WriteError(path);
}

} // namespace signetrix
