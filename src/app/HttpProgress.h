#pragma once
// The progress handlers of the window's HTTP client: the meter (and the
// optional label) that the current download reports to. The restore and the
// update each point them at their own controls before their request; they
// keep their last values afterwards.
#include "net/Transfer.h"

#include <QtGlobal>

#include <functional>

class QLabel;
class QProgressBar;

namespace signetrix {

class HttpProgress {
public:
    QProgressBar* DownloadMeter = nullptr;
    QLabel* DownloadLabel = nullptr;

    // The announced total (kept in the meter's Tag); the meter at 0 %.
    void IdHTTP1WorkBegin(qint64 total);
    // n bytes received so far.
    void IdHTTP1Work(qint64 received);
    void IdHTTP1WorkEnd();

    // A receive-progress callback for a GET that drives the handlers above
    // and keeps the window serviced; never ends the transfer.
    std::function<net::Verdict(const net::ReceiveProgress&)> receiveProgress();
};

} // namespace signetrix
