#pragma once
// Publishing a release: the given files go into the release archive at its top
// level under their own file names (deflated, modification times and Unix
// permissions kept), and the archive is signed in minisign's format. The
// archive and its signature each replace the previous one by rename, so a
// download never sees a half-written file; between the two renames a client
// can meet a new archive with the old signature, which its check refuses.
//
// Fails (with a text, and nothing published) on a missing or non-regular
// file, two files of one name, or a write error in the download folder.
#include "core/Minisign.h"

#include <QString>
#include <QStringList>

namespace signetrix::server {

struct PublishResult {
    bool ok = false;
    QString error;
    QString archivePath;
    QString signaturePath;
};

PublishResult PublishRelease(const QString& downloadFolder, const MinisignSecretKey& key, const QStringList& files);

} // namespace signetrix::server
