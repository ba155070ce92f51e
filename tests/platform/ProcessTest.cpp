#include "platform/Process.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace signetrix::platform;

// The started program runs in the folder it is given, with its arguments, and
// is still running after the call returns (the call does not wait for it).
TEST(DetachedStart, RunsInTheGivenFolderWithItsArguments)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString gate = folder.filePath(QStringLiteral("gate"));
    ASSERT_TRUE(startDetached({QStringLiteral("/bin/sh"),
                               {QStringLiteral("-c"),
                                QStringLiteral("while [ ! -e gate ]; do sleep 0.05; done; printf '%s' \"$1\" > started"),
                                QStringLiteral("sh"), QStringLiteral("deux mots")},
                               folder.path()}));
    // Only now may it finish: proof that the start did not wait for its end.
    QFile g(gate);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.close();
    const QString started = folder.filePath(QStringLiteral("started"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile(started).size() == 9; }, 10000));
    QFile f(started);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("deux mots"));
}

TEST(DetachedStart, MissingProgramIsReported)
{
    QTemporaryDir folder;
    EXPECT_FALSE(startDetached({folder.filePath(QStringLiteral("absent")), {}, folder.path()}));
}

TEST(DetachedStart, TestStarterRecordsInsteadOfLaunching)
{
    QList<DetachedStart> seen;
    const DetachedStarter previous = setDetachedStarterForTesting([&](const DetachedStart& s) {
        seen.append(s);
        return true;
    });
    EXPECT_TRUE(startDetached({QStringLiteral("/nonexistent/Signetrix"), {QStringLiteral("-x")}, QStringLiteral("/tmp")}));
    setDetachedStarterForTesting(previous);
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0].program, QStringLiteral("/nonexistent/Signetrix"));
    EXPECT_EQ(seen[0].workingFolder, QStringLiteral("/tmp"));
    EXPECT_FALSE(startDetached({QStringLiteral("/nonexistent/Signetrix"), {}, {}}));
}

// The end is asked from the event loop: the caller's own steps finish first,
// then the program's main loop ends with code 0.
TEST(EndProgram, EndsTheMainLoopAfterTheCallerReturns)
{
    bool callerFinished = false;
    QTimer::singleShot(0, [&] {
        endProgram();
        callerFinished = true;
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(10000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(callerFinished);
    // Later loops of this process still run (the end applies to that one loop).
    QEventLoop after;
    QTimer::singleShot(0, &after, [&] { after.exit(3); });
    EXPECT_EQ(after.exec(), 3);
}
