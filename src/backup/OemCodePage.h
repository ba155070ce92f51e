#pragma once
// The Western European DOS code page (850), in which ZIP entry names are
// written when the UTF-8 name flag is clear. Qt has no converter for it.
//
// Limits: characters outside the page have no form (toCp850 answers none);
// every byte decodes, so fromCp850 never fails and fromCp850(toCp850(t)) == t.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace signetrix::backup::oem {

// The page's bytes for text; none when some character is not on the page
// (a lone surrogate counts as such).
std::optional<QByteArray> toCp850(const QString& text);
QString fromCp850(QByteArrayView bytes);

} // namespace signetrix::backup::oem
