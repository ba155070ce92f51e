#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread (a
// pipe written by the handler, watched by a socket notifier), so the server
// can stop its FTP child and close cleanly. Installing it twice is a
// programming error; a failed pipe leaves the default signal actions.
#include <QObject>

class QSocketNotifier;

namespace signetrix::server {

class SignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void stopRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace signetrix::server
