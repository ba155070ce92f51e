#pragma once
// A real forward HTTP proxy on 127.0.0.1 for tests, in its own thread. It
// accepts only absolute request lines ("GET http://host:port/path HTTP/1.1")
// and CONNECT tunnels; an origin-form request line gets 400, so a client that
// forgets it is talking to a proxy fails visibly. With requireAuthorization()
// a request without that exact Proxy-Authorization value gets 407. Every
// request head is recorded as received (Proxy-Authorization included); the
// proxy headers are not passed on to the site.
#include "support/HttpTestServer.h"

#include <memory>

namespace signetrix::test {

class HttpTestProxy {
public:
    HttpTestProxy();
    ~HttpTestProxy();
    HttpTestProxy(const HttpTestProxy&) = delete;
    HttpTestProxy& operator=(const HttpTestProxy&) = delete;

    quint16 port() const;
    // E.g. "Basic dXNlcjpwYXNz"; empty accepts any request.
    void requireAuthorization(const QByteArray& value);
    std::vector<HttpRequestRecord> requests() const;

private:
    struct Shared;
    class Core;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    Core* m_core = nullptr;
    quint16 m_port = 0;
};

} // namespace signetrix::test
