#pragma once
// Starting and stopping a test server that lives in a thread of its own: the
// server (with all its sockets) is moved into that thread, listens on
// 127.0.0.1 at a port the system chooses, and is deleted there again.
#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QThread>

namespace signetrix::test {

// Moves `server` into `thread`, starts the thread and listens; the port, or 0
// when listening failed.
inline quint16 StartServerThread(QTcpServer* server, QThread& thread,
                                 const QHostAddress& address = QHostAddress(QHostAddress::LocalHost))
{
    server->moveToThread(&thread);
    thread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        server, [server, &port, address] { if (server->listen(address, 0)) port = server->serverPort(); },
        Qt::BlockingQueuedConnection);
    return port;
}

// Deletes `server` in its thread, then ends the thread.
inline void StopServerThread(QTcpServer* server, QThread& thread)
{
    QMetaObject::invokeMethod(server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

} // namespace signetrix::test
