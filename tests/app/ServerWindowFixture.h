#pragma once
// The real window with the real maker's server on free loopback ports, the
// program's download host pointed at it for the test's length.
#include "app/WindowFixture.h"
#include "server/web/ServerProcess.h"

#include "net/Hosts.h"

#include <QTemporaryDir>

#include <memory>

namespace signetrix::test {

class ServerWindowFixture : public WindowFixture {
protected:
    void TearDown() override
    {
        WindowFixture::TearDown();
        net::SetDownloadHostForTesting(QString());
    }

    void startServer()
    {
        server = std::make_unique<ServerProcess>(data());
        ASSERT_TRUE(server->ready()) << server->startError().toStdString();
        net::SetDownloadHostForTesting(QString::fromLatin1(server->url("")));
    }
    QString data() const { return serverDir.filePath(QStringLiteral("data")); }

    QTemporaryDir serverDir;
    std::unique_ptr<ServerProcess> server;
};

} // namespace signetrix::test
