#pragma once
// The program's one 8-bit code page. Paths and texts kept in the favorites table
// and handed to file operations are in this form; the raw bytes are used as the
// file-system name, so a text that did not convert losslessly no longer names
// its file. The page is the locale's character set (UTF-8 here); tests may
// switch to Latin-1 to reach the lossy paths.
#include <QByteArray>
#include <QString>

namespace signetrix::codepage {

enum class Page { Utf8, Latin1 };

Page current();
void setCurrentForTesting(Page page);

// Characters the page cannot represent become '?'.
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& text);

} // namespace signetrix::codepage
