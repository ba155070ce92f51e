#pragma once
// The server's log: one dated line per event on standard error (standard
// output carries only the line with the listening addresses). Never holds a
// password or a token's digest. Writing cannot fail visibly.
#include <QString>

namespace signetrix::server {

void LogLine(const QString& text);

} // namespace signetrix::server
