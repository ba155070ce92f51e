#pragma once
// The maker's download host (registration page, backups, release): a
// build-time value, replaceable by tests that start the server on a free port.
#include <QString>

namespace signetrix::net {

// "http://host[:port]" without a final "/".
QString DownloadHost();
// An address on the download host for a path that starts with "/".
QString DownloadUrl(const QString& path);
// An empty text restores the build's value.
void SetDownloadHostForTesting(const QString& host);

} // namespace signetrix::net
