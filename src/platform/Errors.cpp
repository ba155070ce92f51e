#include "platform/Errors.h"

namespace signetrix {

Error::Error(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}

ConvertError::ConvertError(const QString& text)
    : Error(QStringLiteral("'%1' is not a valid integer value").arg(text)) {}

WriteError::WriteError(const QString& path) : Error(QStringLiteral("Unable to write to %1").arg(path)) {}

bool TryStrToInt(const QString& text, int& value)
{
    int i = 0;
    const int n = text.size();
    while (i < n && text[i] <= QChar(' ')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) return false;
    qint64 acc = 0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c.unicode() - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c.unicode() - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c.unicode() - 'A' + 10;
        else return false;
        acc = acc * base + digit;
        if (acc > 0x100000000LL) return false;
    }
    if (negative) acc = -acc;
    if (base == 10 && (acc > 2147483647LL || acc < -2147483648LL)) return false;
    if (base == 16) {
        if (acc > 0xFFFFFFFFLL || acc < -2147483648LL) return false;
        acc = static_cast<qint32>(static_cast<quint32>(acc));
    }
    value = static_cast<int>(acc);
    return true;
}

int StrToInt(const QString& text)
{
    int value = 0;
    if (!TryStrToInt(text, value)) throw ConvertError(text);
    return value;
}

} // namespace signetrix
