#include "backup/ZipDirectory.h"

#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <algorithm>

namespace signetrix::zipdir {

bool readCentralDirectory(int fd, std::vector<CentralRecord>& records)
{
    records.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size < 22) return false;
    const qint64 size = st.st_size;
    const qint64 tailSize = std::min<qint64>(size, 22 + 0xFFFF);
    QByteArray tail(tailSize, Qt::Uninitialized);
    if (!fs::readFully(fd, tail.data(), tailSize, size - tailSize)) return false;
    qint64 end = -1;
    for (qint64 i = tailSize - 22; i >= 0; --i) {
        const char* p = tail.constData() + i;
        if (le32(p) == 0x06054b50 && 22 + le16(p + 20) == tailSize - i) {
            end = i;
            break;
        }
    }
    if (end < 0) return false;
    const char* e = tail.constData() + end;
    quint64 disk = le16(e + 4), cdDisk = le16(e + 6), onDisk = le16(e + 8), total = le16(e + 10);
    quint64 cdSize = le32(e + 12), cdOffset = le32(e + 16);
    quint64 limit = quint64(size - tailSize + end);
    if (disk == 0xFFFF || cdDisk == 0xFFFF || onDisk == 0xFFFF || total == 0xFFFF || cdSize == 0xFFFFFFFF ||
        cdOffset == 0xFFFFFFFF) {
        char locator[20], record[56];
        if (limit < 20 || !fs::readFully(fd, locator, 20, qint64(limit) - 20) || le32(locator) != 0x07064b50) return false;
        const quint64 at = le64(locator + 8);
        if (at > limit - 20 || limit - 20 - at < 56 || !fs::readFully(fd, record, 56, qint64(at)) ||
            le32(record) != 0x06064b50)
            return false;
        disk = le32(record + 16);
        cdDisk = le32(record + 20);
        onDisk = le64(record + 24);
        total = le64(record + 32);
        cdSize = le64(record + 40);
        cdOffset = le64(record + 48);
        limit = at;
    }
    if (disk != 0 || cdDisk != 0 || onDisk != total) return false;
    if (cdOffset > limit || cdSize > limit - cdOffset || total > cdSize / 46) return false;
    QByteArray cd(qint64(cdSize), Qt::Uninitialized);
    if (!fs::readFully(fd, cd.data(), qint64(cdSize), qint64(cdOffset))) return false;
    records.reserve(total);
    const char* p = cd.constData();
    quint64 pos = 0;
    for (quint64 n = 0; n < total; ++n) {
        const char* h = p + pos;
        if (cdSize - pos < 46 || le32(h) != 0x02014b50) return false;
        const quint64 nameLen = le16(h + 28), extraLen = le16(h + 30), commentLen = le16(h + 32);
        if (cdSize - pos - 46 < nameLen + extraLen + commentLen) return false;
        CentralRecord r;
        r.headerOffset = qint64(cdOffset + pos);
        r.system = quint8(le16(h + 4) >> 8);
        r.flags = le16(h + 8);
        r.method = le16(h + 10);
        r.dosTime = le16(h + 12);
        r.dosDate = le16(h + 14);
        r.externalAttributes = le32(h + 38);
        r.localOffset = le32(h + 42);
        r.name = QByteArray(h + 46, qint64(nameLen));
        if (r.localOffset == 0xFFFFFFFF) {
            // Zip64 extra field: the 64-bit values present are those whose 32-bit field is full.
            const char* x = h + 46 + nameLen;
            bool found = false;
            for (quint64 k = 0; k + 4 <= extraLen && !found;) {
                const quint16 id = le16(x + k), len = le16(x + k + 2);
                if (k + 4 + len > extraLen) return false;
                if (id == 0x0001) {
                    quint64 at = k + 4;
                    if (le32(h + 24) == 0xFFFFFFFF) at += 8;
                    if (le32(h + 20) == 0xFFFFFFFF) at += 8;
                    if (at + 8 > k + 4 + len) return false;
                    r.localOffset = le64(x + at);
                    found = true;
                }
                k += 4 + len;
            }
            if (!found) return false;
        }
        records.push_back(std::move(r));
        pos += 46 + nameLen + extraLen + commentLen;
    }
    return true;
}

EntryFault streamEntry(zip_t* za, zip_uint64_t index, qint64 size,
                       const std::function<bool(const char*, qint64)>& sink, QString* libraryText)
{
    zip_file_t* zf = zip_fopen_index(za, index, 0);
    if (!zf) {
        *libraryText = QString::fromLocal8Bit(zip_strerror(za));
        return EntryFault::Open;
    }
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    qint64 total = 0;
    EntryFault fault = EntryFault::None;
    for (;;) {
        const zip_int64_t got = zip_fread(zf, buffer.data(), zip_uint64_t(buffer.size()));
        if (got < 0) {
            *libraryText = QString::fromLocal8Bit(zip_error_strerror(zip_file_get_error(zf)));
            fault = EntryFault::Damaged;
            break;
        }
        if (got == 0) break;
        total += got;
        if (total > size) {
            fault = EntryFault::Longer;
            break;
        }
        if (!sink(buffer.constData(), qint64(got))) {
            fault = EntryFault::Sink;
            break;
        }
    }
    if (zip_fclose(zf) != 0 && fault == EntryFault::None) {
        libraryText->clear();
        fault = EntryFault::Damaged;
    }
    if (fault == EntryFault::None && total != size) fault = EntryFault::Shorter;
    return fault;
}

} // namespace signetrix::zipdir
