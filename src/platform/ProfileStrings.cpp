#include "platform/ProfileStrings.h"

#include "platform/FileSystem.h"

#include <QVector>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::platform {
namespace {

struct Line {
    int start;   // offset of the text
    int length;  // text length without the line break
    int end;     // offset after the line break
};

QVector<Line> splitLines(const QByteArray& data)
{
    QVector<Line> lines;
    const int n = data.size();
    int start = 0;
    int i = 0;
    while (i < n) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            int end = i + 1;
            if (c == '\r' && end < n && data[end] == '\n') ++end;
            lines.push_back({start, i - start, end});
            start = i = end;
        } else {
            ++i;
        }
    }
    if (start < n) lines.push_back({start, n - start, n});
    return lines;
}

inline bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

QByteArray trimmed(const QByteArray& text)
{
    int b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    return text.mid(b, e - b);
}

// Section name of a header line ("[ name ]"), or false when the line is none.
bool headerName(const QByteArray& line, QByteArray& name)
{
    const QByteArray t = trimmed(line);
    if (!t.startsWith('[')) return false;
    const int close = t.indexOf(']');
    name = trimmed(close < 0 ? t.mid(1) : t.mid(1, close - 1));
    return true;
}

bool keyOf(const QByteArray& line, QByteArray& key)
{
    const int eq = line.indexOf('=');
    if (eq < 0) return false;
    key = trimmed(line.left(eq));
    return true;
}

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && qstrnicmp(a.constData(), b.constData(), a.size()) == 0;
}

struct Found {
    int header = -1;     // index of the section header line
    int lastLine = -1;   // last non-blank line of the section (header when empty)
    int key = -1;        // the key's line
};

Found locate(const QByteArray& data, const QVector<Line>& lines, const QByteArray& section, const QByteArray& key)
{
    Found f;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray text = data.mid(lines[i].start, lines[i].length);
        QByteArray name;
        if (headerName(text, name)) {
            if (f.header >= 0) break; // the next section ends ours
            if (sameName(name, trimmed(section))) f.header = f.lastLine = i;
            continue;
        }
        if (f.header < 0) continue;
        if (!trimmed(text).isEmpty()) f.lastLine = i;
        QByteArray k;
        if (f.key < 0 && keyOf(text, k) && sameName(k, trimmed(key))) f.key = i;
    }
    return f;
}

} // namespace

QByteArray getProfileString(const QByteArray& nativePath, const QByteArray& section, const QByteArray& key,
                            const QByteArray& def, int maxChars)
{
    QByteArray data;
    QByteArray result = def;
    if (fs::readFile(nativePath, data)) {
        const int nul = data.indexOf('\0');
        if (nul >= 0) data.truncate(nul);
        const QVector<Line> lines = splitLines(data);
        const Found f = locate(data, lines, section, key);
        if (f.key >= 0) {
            const QByteArray line = data.mid(lines[f.key].start, lines[f.key].length);
            QByteArray value = trimmed(line.mid(line.indexOf('=') + 1));
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) value = value.mid(1, value.size() - 2);
            result = value;
        }
    }
    if (maxChars >= 0 && result.size() > maxChars) result.truncate(maxChars);
    return result;
}

QByteArray applyProfileWrite(const QByteArray& data, const QByteArray& section, const QByteArray& key,
                             const QByteArray& value)
{
    static const QByteArray crlf("\r\n");
    const QVector<Line> lines = splitLines(data);
    const Found f = locate(data, lines, section, key);
    const QByteArray keyLine = trimmed(key) + '=' + value;

    if (f.key >= 0) {
        const Line& l = lines[f.key];
        return data.left(l.start) + keyLine + data.mid(l.start + l.length);
    }
    if (f.header >= 0) {
        const Line& l = lines[f.lastLine];
        QByteArray out = data.left(l.end);
        if (l.end == l.start + l.length) out += crlf; // the last line had no break
        out += keyLine + crlf;
        out += data.mid(l.end);
        return out;
    }
    QByteArray out = data;
    if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r')) out += crlf;
    out += '[' + trimmed(section) + ']' + crlf + keyLine + crlf;
    return out;
}

bool replaceFileContents(const QByteArray& nativePath, const QByteArray& data, int* error)
{
    auto fail = [error](int e) {
        if (error) *error = e;
        return false;
    };
    // Write through symbolic links to the file they name.
    QByteArray target = nativePath;
    char resolved[PATH_MAX];
    struct stat st;
    const bool existed = ::stat(nativePath.constData(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) return fail(EISDIR);
        if (fs::isReadOnly(nativePath)) return fail(EACCES);
        if (::realpath(nativePath.constData(), resolved)) target = QByteArray(resolved);
    }
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? target.left(slash + 1) : QByteArray();
    QByteArray temp;
    const int fd = fs::createTempFile(folder, temp);
    if (fd < 0) return fail(errno);
    const mode_t mode = existed ? (st.st_mode & 07777) : [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    qint64 written = 0;
    while (written < data.size()) {
        const ssize_t w = ::write(fd, data.constData() + written, data.size() - written);
        if (w < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(fd);
            ::unlink(temp.constData());
            return fail(e);
        }
        written += w;
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        ::unlink(temp.constData());
        return fail(e);
    }
    if (existed) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) { /* keeping the owner is best effort */ }
    }
    if (::close(fd) != 0 || ::rename(temp.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        return fail(e);
    }
    return true;
}

bool writeProfileString(const QByteArray& nativePath, const QByteArray& section, const QByteArray& key,
                        const QByteArray& value, int* error)
{
    QByteArray data;
    if (fs::exists(nativePath)) {
        if (fs::isFolder(nativePath)) {
            if (error) *error = EISDIR;
            return false;
        }
        if (!fs::readFile(nativePath, data)) {
            if (error) *error = errno ? errno : EIO;
            return false;
        }
    }
    return replaceFileContents(nativePath, applyProfileWrite(data, section, key, value), error);
}

} // namespace signetrix::platform
