#include "platform/CodePage.h"

#include <atomic>

namespace signetrix::codepage {
namespace {
std::atomic<Page> g_page{Page::Utf8};
}

Page current() { return g_page.load(); }
void setCurrentForTesting(Page page) { g_page.store(page); }

QByteArray toAnsi(const QString& text)
{
    if (current() == Page::Latin1) {
        QByteArray out;
        out.reserve(text.size());
        const int n = text.size();
        for (int i = 0; i < n; ++i) {
            const char16_t c = text[i].unicode();
            out.append(c < 256 ? char(c) : '?');
            // A surrogate pair is one character and gets one '?'.
            if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) ++i;
        }
        return out;
    }
    QByteArray out;
    out.reserve(text.size());
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        char32_t cp = c;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
                cp = QChar::surrogateToUcs4(c, text[i + 1].unicode());
                ++i;
            } else {
                out.append('?');
                continue;
            }
        } else if (QChar::isLowSurrogate(c)) {
            out.append('?');
            continue;
        }
        if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

QString fromAnsi(const QByteArray& text)
{
    if (current() == Page::Latin1) return QString::fromLatin1(text);
    return QString::fromUtf8(text);
}

} // namespace signetrix::codepage
