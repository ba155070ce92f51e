#include "app/HttpProgress.h"

#include "app/EventPump.h"

#include <QLabel>
#include <QProgressBar>

#include <memory>

namespace signetrix {
namespace {

// A progress bar ignores values outside its range; the meter shows them as full or empty.
void showPercent(QProgressBar* meter, qint64 percent)
{
    meter->setValue(int(qBound(qint64(meter->minimum()), percent, qint64(meter->maximum()))));
}

} // namespace

void HttpProgress::IdHTTP1WorkBegin(qint64 total)
{
    if (!DownloadMeter) return;
    DownloadMeter->setProperty("Tag", total);
    showPercent(DownloadMeter, 0);
}

void HttpProgress::IdHTTP1Work(qint64 received)
{
    if (!DownloadMeter) return;
    const qint64 total = DownloadMeter->property("Tag").toLongLong();
    showPercent(DownloadMeter, total <= 1 ? received * 100 : received * 100 / total);
    if (DownloadLabel)
        DownloadLabel->setText(QString::number(received) + QStringLiteral("Bytes de :") + QString::number(total));
}

void HttpProgress::IdHTTP1WorkEnd()
{
    if (!DownloadMeter) return;
    if (DownloadLabel) DownloadLabel->setText(QStringLiteral("Completed"));
}

std::function<net::Verdict(const net::ReceiveProgress&)> HttpProgress::receiveProgress()
{
    auto begun = std::make_shared<bool>(false);
    auto last = std::make_shared<qint64>(-1);
    return [this, begun, last](const net::ReceiveProgress& p) {
        if (!*begun && p.statusSeen) {
            *begun = true;
            IdHTTP1WorkBegin(p.expectedBytes);
        }
        if (*begun && p.bodyBytes != *last) {
            *last = p.bodyBytes;
            IdHTTP1Work(p.bodyBytes);
        }
        pumpEvents();
        return net::Verdict::Continue;
    };
}

} // namespace signetrix
