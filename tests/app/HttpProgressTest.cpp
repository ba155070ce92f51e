// The HTTP client's progress handlers: the meter's percentage with its rule
// for an unknown total, the label's text, and nothing at all without a meter.
#include "app/HttpProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <gtest/gtest.h>

namespace signetrix {
namespace {

TEST(HttpProgressHandlers, MeterAndLabelFollowTheBytesReceived)
{
    struct Case {
        qint64 total;
        qint64 received;
        int meter;
        const char* label;
    };
    const Case cases[] = {
        {1000, 0, 0, "0Bytes de :1000"},
        {1000, 999, 99, "999Bytes de :1000"}, // the fraction dropped
        {1000, 1000, 100, "1000Bytes de :1000"},
        {3, 2, 66, "2Bytes de :3"},
        {1, 0, 0, "0Bytes de :1"},
        {0, 1, 100, "1Bytes de :0"},        // no total: n x 100, shown full
        {-1, 5000, 100, "5000Bytes de :-1"},
        {0, 0, 0, "0Bytes de :0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.received));
        QProgressBar meter;
        QLabel label;
        HttpProgress http;
        http.DownloadMeter = &meter;
        http.DownloadLabel = &label;
        meter.setValue(50);
        http.IdHTTP1WorkBegin(c.total);
        EXPECT_EQ(meter.value(), 0);
        http.IdHTTP1Work(c.received);
        EXPECT_EQ(meter.value(), c.meter);
        EXPECT_EQ(label.text(), QString::fromLatin1(c.label));
        http.IdHTTP1WorkEnd();
        EXPECT_EQ(label.text(), QStringLiteral("Completed"));
    }
}

TEST(HttpProgressHandlers, WithoutALabelOnlyTheMeterMovesAndWithoutAMeterNothing)
{
    QProgressBar meter;
    QLabel label;
    label.setText(QStringLiteral("avant"));
    HttpProgress http;
    http.IdHTTP1WorkBegin(100);
    http.IdHTTP1Work(50);
    http.IdHTTP1WorkEnd();
    EXPECT_EQ(meter.value(), -1);

    http.DownloadMeter = &meter;
    http.IdHTTP1WorkBegin(200);
    http.IdHTTP1Work(50);
    EXPECT_EQ(meter.value(), 25);
    http.IdHTTP1WorkEnd();
    EXPECT_EQ(label.text(), QStringLiteral("avant"));

    // The callback handed to a GET: begins once the status is seen, then follows the body.
    auto progress = http.receiveProgress();
    net::ReceiveProgress p;
    p.expectedBytes = 400;
    p.bodyBytes = 0;
    progress(p);
    EXPECT_EQ(meter.value(), 25) << "nothing before the status line";
    p.statusSeen = true;
    p.bodyBytes = 200;
    EXPECT_EQ(progress(p), net::Verdict::Continue);
    EXPECT_EQ(meter.value(), 50) << "200 of 400 bytes";
    p.bodyBytes = 400;
    progress(p);
    EXPECT_EQ(meter.value(), 100);
}

} // namespace
} // namespace signetrix
