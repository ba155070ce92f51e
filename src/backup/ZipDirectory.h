#pragma once
// The central directory of a ZIP archive read straight from the file, for what
// libzip does not tell: a name's exact bytes (libzip turns a NUL into a space
// and stops there), the general-purpose flags, the "made by" system, the DOS
// time fields and where each header lies. One volume only; Zip64 end records
// and offsets understood. Anything that is not a whole, consistent directory
// is refused (false), never half read.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

#include <zip.h>

namespace signetrix::zipdir {

inline constexpr quint16 kFlagEncrypted = 0x0001;
inline constexpr quint16 kFlagSuperFast = 0x0006; // deflate option bits 1 and 2
inline constexpr quint16 kFlagUtf8 = 0x0800;

inline quint16 le16(const char* p) { return quint16(uchar(p[0]) | uchar(p[1]) << 8); }
inline quint32 le32(const char* p) { return quint32(le16(p)) | quint32(le16(p + 2)) << 16; }
inline quint64 le64(const char* p) { return quint64(le32(p)) | quint64(le32(p + 4)) << 32; }

struct CentralRecord {
    qint64 headerOffset = 0; // of this central header in the file
    quint64 localOffset = 0;
    QByteArray name; // the stored bytes, exactly
    quint16 flags = 0;
    quint16 method = 0;
    quint8 system = 0; // the "made by" system
    quint16 dosTime = 0;
    quint16 dosDate = 0;
    quint32 externalAttributes = 0;
};

bool readCentralDirectory(int fd, std::vector<CentralRecord>& records);

// Why an entry could not be read whole.
enum class EntryFault {
    None,
    Open,    // libzip cannot open it
    Damaged, // a read or the CRC failed
    Longer,  // more data than its size says
    Shorter, // less data than its size says
    Sink,    // the sink refused the data
};
// Reads an entry to its end, where libzip checks the CRC, handing the data to
// sink in chunks; *libraryText receives libzip's own words when it has some.
EntryFault streamEntry(zip_t* za, zip_uint64_t index, qint64 size,
                       const std::function<bool(const char*, qint64)>& sink, QString* libraryText);

} // namespace signetrix::zipdir
