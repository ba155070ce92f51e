#pragma once
// What the worker tests share: a view that records what the worker shows, rows
// to check, and a run to the worker's end.
#include "analysis/ResultCodes.h"
#include "analysis/ThreadCheckURL.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace signetrix::test {

// Records what the worker shows; fails a test that is called off the UI thread.
class RecordingView : public CheckProgressView {
public:
    void setMeter(int percent) override { check(); meters.push_back(percent); }
    void setUrlText(const QString& text) override { check(); url = text; }
    void setNameText(const QString& text) override { check(); name = text; }
    void setCountText(const QString& text) override
    {
        check();
        counts << text;
        urlsAtCount << url;
        if (onCount) onCount(text);
    }
    void setSecondLookText(const QString& text) override
    {
        check();
        if (!text.isEmpty()) secondLookTexts << text;
    }
    void refresh() override { check(); ++refreshes; }

    std::vector<int> meters;
    QStringList secondLookTexts;
    QString url, name;
    QStringList counts, urlsAtCount;
    int refreshes = 0;
    std::function<void(const QString&)> onCount;

private:
    static void check() { EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread()); }
};

inline void AddRow(FavoritesTable& table, const QByteArray& url, const QByteArray& name, int status = kCodeWaiting)
{
    FavoriteRow& row = table.append();
    row.Index = table.size() - 1;
    row.fullUrl = url;
    row.stUrl = cutField(url);
    row.stFile = name;
    row.iStatut = status;
}

inline LinkCheckOptions Fast()
{
    LinkCheckOptions options;
    options.readTimeoutMs = 400;
    return options;
}

// Starts a worker and waits until it has released itself.
inline bool RunToEnd(RecordingView& view, FavoritesTable& table, int priority = 1, LinkCheckOptions options = Fast(),
                     CheckPlan plan = {})
{
    QPointer<TThreadCheckURL> worker =
        new TThreadCheckURL(view, table, priority, tyiProxyConnectionInfo(), options, plan);
    return QTest::qWaitFor([&] { return worker.isNull(); }, 30000);
}

} // namespace signetrix::test
