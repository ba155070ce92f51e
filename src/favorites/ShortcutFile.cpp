#include "favorites/ShortcutFile.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/ProfileStrings.h"

#include <QByteArrayView>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace signetrix {
namespace {

constexpr QByteArrayView kSection("InternetShortcut");
constexpr QByteArrayView kKey("URL");
constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");
constexpr QByteArrayView kUtf16LeBom("\xFF\xFE");
constexpr QByteArrayView kUtf16BeBom("\xFE\xFF");

enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

Encoding detectEncoding(QByteArrayView data)
{
    if (data.startsWith(kUtf8Bom)) return Encoding::Utf8;
    if (data.startsWith(kUtf16LeBom)) return Encoding::Utf16Le;
    if (data.startsWith(kUtf16BeBom)) return Encoding::Utf16Be;
    return Encoding::Ansi;
}

QString decodeUtf16(QByteArrayView body, bool bigEndian)
{
    const qsizetype units = body.size() / 2; // an odd last byte is no character
    QString text(units, Qt::Uninitialized);
    const auto* p = reinterpret_cast<const uchar*>(body.data());
    for (qsizetype i = 0; i < units; ++i) {
        const uchar a = p[2 * i], b = p[2 * i + 1];
        text[i] = QChar(bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a));
    }
    return text;
}

QByteArray encodeUtf16(const QString& text, bool bigEndian)
{
    QByteArray out(bigEndian ? kUtf16BeBom.toByteArray() : kUtf16LeBom.toByteArray());
    out.reserve(2 + text.size() * 2);
    for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo);
        out.append(bigEndian ? lo : hi);
    }
    return out;
}

// The text of a file with a byte-order mark, as 8-bit code-page text.
QByteArray toAnsiText(QByteArrayView data, Encoding encoding)
{
    QString text;
    switch (encoding) {
    case Encoding::Ansi: return data.toByteArray();
    case Encoding::Utf8: text = QString::fromUtf8(data.sliced(kUtf8Bom.size())); break;
    case Encoding::Utf16Le: text = decodeUtf16(data.sliced(2), false); break;
    case Encoding::Utf16Be: text = decodeUtf16(data.sliced(2), true); break;
    }
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0) text.truncate(nul);
    return codepage::toAnsi(text);
}

template <typename Out>
void splitLines(QByteArrayView text, Out& out)
{
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0) text = text.first(nul);
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        out.push_back(text.sliced(start, i - start));
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < n) out.push_back(text.sliced(start));
}

bool isBlankLine(QByteArrayView line)
{
    for (const char c : line)
        if (static_cast<uchar>(c) > ' ') return false;
    return true;
}

bool isHeader(QByteArrayView line) { return !line.isEmpty() && line.front() == '['; }

// A header names the text between its first and its last character.
bool headerNames(QByteArrayView line, QByteArrayView section)
{
    if (!isHeader(line)) return false;
    const QByteArrayView name = line.size() >= 2 ? line.sliced(1, line.size() - 2) : QByteArrayView();
    return name == section;
}

template <typename Lines>
Lines sectionLines(const Lines& lines, QByteArrayView section)
{
    Lines out;
    const qsizetype n = static_cast<qsizetype>(lines.size());
    qsizetype i = 0;
    while (i < n && !headerNames(lines[i], section)) ++i;
    for (++i; i < n && !isHeader(lines[i]); ++i)
        if (!isBlankLine(lines[i])) out.push_back(lines[i]);
    return out;
}

template <typename Lines>
QByteArrayView valueOf(const Lines& lines, QByteArrayView key)
{
    for (const auto& entry : lines) {
        const QByteArrayView line(entry);
        const qsizetype eq = line.indexOf('=');
        const QByteArrayView name = eq < 0 ? QByteArrayView() : line.first(eq);
        if (name == key) return eq < 0 ? QByteArrayView() : line.sliced(eq + 1);
    }
    return {};
}

QByteArray urlFromAnsiText(QByteArrayView text)
{
    std::vector<QByteArrayView> lines;
    splitLines(text, lines);
    return valueOf(sectionLines(lines, kSection), kKey).toByteArray();
}

[[noreturn]] void throwReadError(const QString& shown, int error)
{
    throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(shown, fs::lastErrorText(error)));
}

QByteArray readShortcutBytes(const QByteArray& nativePath, const QString& shown)
{
    QByteArray data;
    int error = 0;
    if (ReadShortcutBytes(nativePath, data, &error) != ShortcutBytes::Read) throwReadError(shown, error);
    return data;
}

// Walks back `count` characters of 8-bit code-page text from its end, keeping
// multi-byte characters whole.
qsizetype cutLastChars(QByteArrayView text, int count)
{
    qsizetype end = text.size();
    const bool multiByte = codepage::current() == codepage::Page::Utf8;
    for (int k = 0; k < count && end > 0; ++k) {
        --end;
        for (int cont = 0; multiByte && cont < 3 && end > 0 && (uchar(text[end]) & 0xC0) == 0x80; ++cont) --end;
    }
    return end;
}

} // namespace

// Plain POSIX calls: the analysis reads every favorite of the tree this way.
ShortcutBytes ReadShortcutBytes(const QByteArray& nativePath, QByteArray& contents, int* error)
{
    contents.clear();
    auto result = [error](ShortcutBytes r, int e) {
        if (error) *error = e;
        return r;
    };
    if (nativePath.isEmpty()) return result(ShortcutBytes::NotOpened, ENOENT);
    // A named pipe can neither stall the open nor be read as a shortcut.
    int openError = 0;
    const int fd = fs::openRegularFile(nativePath, &openError);
    if (fd < 0) {
        if (openError == EISDIR) return result(ShortcutBytes::Folder, openError);
        if (openError == EINVAL) return result(ShortcutBytes::Unreadable, openError);
        return result(ShortcutBytes::NotOpened, openError);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st;
    if (::fstat(fd, &st) != 0) return result(ShortcutBytes::Unreadable, errno);
    if (st.st_size > kMaxShortcutFileSize) return result(ShortcutBytes::Unreadable, EFBIG);

    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype total = 0;
    while (total < data.size()) {
        const ssize_t got = ::read(fd, data.data() + total, size_t(data.size() - total));
        if (got < 0) {
            if (errno == EINTR) continue;
            return result(ShortcutBytes::Unreadable, errno);
        }
        if (got == 0) break; // the file shrank meanwhile
        total += got;
    }
    data.truncate(total);
    contents = std::move(data);
    return result(ShortcutBytes::Read, 0);
}

QList<QByteArray> SplitShortcutLines(const QByteArray& text)
{
    std::vector<QByteArrayView> views;
    splitLines(text, views);
    QList<QByteArray> lines;
    lines.reserve(qsizetype(views.size()));
    for (const QByteArrayView v : views) lines.push_back(v.toByteArray());
    return lines;
}

QList<QByteArray> ReadIniSection(const QList<QByteArray>& lines, const QByteArray& section)
{
    return sectionLines(lines, section);
}

QByteArray ReadIniValue(const QList<QByteArray>& lines, const QByteArray& key)
{
    return valueOf(lines, key).toByteArray();
}

QByteArray ShortcutUrlFromBytes(const QByteArray& contents)
{
    const Encoding encoding = detectEncoding(contents);
    if (encoding == Encoding::Ansi) return urlFromAnsiText(contents);
    return urlFromAnsiText(toAnsiText(contents, encoding));
}

QByteArray ReadShortcutUrl(const QByteArray& path)
{
    return ShortcutUrlFromBytes(readShortcutBytes(path, codepage::fromAnsi(path)));
}

QByteArray ReadShortcutUrlWide(const QString& path)
{
    return ShortcutUrlFromBytes(readShortcutBytes(fs::nativeFromWide(path), path));
}

bool WriteShortcutUrl(const QByteArray& path, const QByteArray& url)
{
    if (url.contains('\r') || url.contains('\n') || url.contains('\0')) return false;
    const QByteArray section = kSection.toByteArray();
    const QByteArray key = kKey.toByteArray();

    // Only a readable regular file is rewritten (a pipe would block the read,
    // a huge file is no shortcut); a missing one is created.
    QByteArray data;
    if (fs::exists(path) && ReadShortcutBytes(path, data) != ShortcutBytes::Read) return false;
    const Encoding encoding = detectEncoding(data);
    if (encoding == Encoding::Ansi) return platform::writeProfileString(path, section, key, url);

    // A file with a byte-order mark is rewritten in its own encoding, so the
    // new address lands in the section that reading finds.
    const QByteArray value = codepage::fromAnsi(url).toUtf8();
    QByteArray out;
    if (encoding == Encoding::Utf8) {
        out = kUtf8Bom.toByteArray() +
              platform::applyProfileWrite(data.mid(kUtf8Bom.size()), section, key, value);
    } else {
        const bool bigEndian = encoding == Encoding::Utf16Be;
        const QByteArray body = decodeUtf16(QByteArrayView(data).sliced(2), bigEndian).toUtf8();
        out = encodeUtf16(QString::fromUtf8(platform::applyProfileWrite(body, section, key, value)), bigEndian);
    }
    return platform::replaceFileContents(path, out);
}

QByteArray ShortcutDisplayName(const QByteArray& path)
{
    const QByteArrayView name = QByteArrayView(path).sliced(path.lastIndexOf('/') + 1);
    return name.first(cutLastChars(name, 4)).toByteArray();
}

QString ShortcutDisplayName(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    qsizetype end = name.size();
    for (int k = 0; k < 4 && end > 0; ++k) {
        --end;
        if (end > 0 && name[end].isLowSurrogate() && name[end - 1].isHighSurrogate()) --end;
    }
    return name.left(end);
}

} // namespace signetrix
