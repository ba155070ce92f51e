#include "core/FormDecoding.h"

#include <QStringDecoder>

namespace signetrix::server {
namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool DecodeUtf8(const QByteArray& bytes, QString* text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

bool PercentDecode(const QByteArray& encoded, QByteArray* decoded, bool plusIsSpace)
{
    decoded->clear();
    decoded->reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) return false;
            const int high = HexValue(encoded[i + 1]);
            const int low = HexValue(encoded[i + 2]);
            if (high < 0 || low < 0) return false;
            decoded->append(char(high * 16 + low));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            decoded->append(' ');
        } else {
            decoded->append(c);
        }
    }
    return true;
}

DecodedForm DecodeForm(const QByteArray& body, const QHash<QString, int>& maxLengths)
{
    DecodedForm form;
    const auto refuse = [&](const QString& why) {
        form.refusal = why;
        form.fields.clear();
        return form;
    };
    QByteArray trimmed = body;
    // Some clients end the body with a line break.
    while (trimmed.endsWith('\n') || trimmed.endsWith('\r')) trimmed.chop(1);
    if (trimmed.isEmpty()) return refuse(QStringLiteral("Le formulaire envoyé est vide."));
    for (const QByteArray& pair : trimmed.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals <= 0) return refuse(QStringLiteral("Le formulaire envoyé est mal formé."));
        QByteArray rawName, rawValue;
        if (!PercentDecode(pair.left(equals), &rawName, true) || !PercentDecode(pair.mid(equals + 1), &rawValue, true))
            return refuse(QStringLiteral("Le formulaire envoyé contient un codage invalide."));
        QString name, value;
        if (!DecodeUtf8(rawName, &name) || !DecodeUtf8(rawValue, &value))
            return refuse(QStringLiteral("Le formulaire envoyé contient un texte invalide."));
        const auto limit = maxLengths.constFind(name);
        if (limit == maxLengths.constEnd()) return refuse(QStringLiteral("Le formulaire contient un champ inconnu."));
        if (form.fields.contains(name))
            return refuse(QStringLiteral("Le champ « %1 » figure deux fois dans le formulaire.").arg(name));
        for (QChar c : value)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                return refuse(QStringLiteral("Le champ « %1 » contient un caractère de contrôle.").arg(name));
        if (value.size() > *limit) {
            form.tooLong = true;
            return refuse(QStringLiteral("Le champ « %1 » est trop long (%2 caractères au plus).").arg(name).arg(*limit));
        }
        form.fields.insert(name, value);
    }
    form.ok = true;
    return form;
}

} // namespace signetrix::server
