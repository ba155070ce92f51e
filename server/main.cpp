// signetrix_server: the maker's web and FTP server (see core/ServerApp.h), and
// its "publish" command that builds and signs the release archive.
#include "core/Log.h"
#include "core/Minisign.h"
#include "core/Options.h"
#include "core/Release.h"
#include "core/ServerApp.h"
#include "core/SignalWatcher.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

using namespace signetrix::server;

namespace {

int Publish(const PublishOptions& options)
{
    QFile keyFile(options.keyFile);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "publish: cannot read %s: %s\n", qPrintable(options.keyFile), qPrintable(keyFile.errorString()));
        return 1;
    }
    QString error;
    const std::optional<MinisignSecretKey> key = ParseMinisignSecretKey(keyFile.readAll(), &error);
    if (!key) {
        std::fprintf(stderr, "publish: %s: %s\n", qPrintable(options.keyFile), qPrintable(error));
        return 1;
    }
    const PublishResult result = PublishRelease(DataLayout(options.dataFolder).download, *key, options.files);
    if (!result.ok) {
        std::fprintf(stderr, "publish: %s\n", qPrintable(result.error));
        return 1;
    }
    std::printf("%s\n%s\n", qPrintable(result.archivePath), qPrintable(result.signaturePath));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // A client that goes away mid-answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    const CommandLine line = ParseCommandLine(app.arguments());
    switch (line.mode) {
    case CommandLine::Mode::Help:
        std::printf("%s", qPrintable(line.text));
        return 0;
    case CommandLine::Mode::Error:
        std::fprintf(stderr, "signetrix_server: %s\n", qPrintable(line.text));
        return 2;
    case CommandLine::Mode::Publish:
        return Publish(line.publish);
    case CommandLine::Mode::Serve:
        break;
    }

    SignalWatcher stopSignals;
    ServerApp server(line.serve);
    QString error;
    if (!server.start(&error)) {
        LogLine(QStringLiteral("cannot start: %1").arg(error));
        return 1;
    }
    QObject::connect(&stopSignals, &SignalWatcher::stopRequested, &app, [&](int number) {
        LogLine(QStringLiteral("signal %1: stopping").arg(number));
        app.exit(0);
    });
    QObject::connect(&server, &ServerApp::ftpLost, &app, [&](const QString& why) {
        LogLine(QStringLiteral("%1; stopping").arg(why));
        app.exit(3);
    });
    std::printf("%s\n", qPrintable(server.readyLine()));
    std::fflush(stdout);
    const int code = app.exec();
    server.stop();
    return code;
}
