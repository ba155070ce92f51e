#pragma once
// Reading an application/x-www-form-urlencoded body strictly: only the field
// names given, each at most once and no longer than its limit (in
// characters), percent escapes well formed and the text valid UTF-8. Anything
// else is refused with a French reason fit for the answer page.
#include <QByteArray>
#include <QHash>
#include <QString>

namespace signetrix::server {

struct DecodedForm {
    bool ok = false;
    QString refusal;                // why not, when !ok
    bool tooLong = false;           // the refusal is a field over its limit
    QHash<QString, QString> fields; // absent fields are absent
};

DecodedForm DecodeForm(const QByteArray& body, const QHash<QString, int>& maxLengths);

// Percent-decoding of one component ('+' is a space); false on a broken escape.
bool PercentDecode(const QByteArray& encoded, QByteArray* decoded, bool plusIsSpace);

} // namespace signetrix::server
