#pragma once
// Shared fixtures: temporary folders with files, the executable-folder seam, a
// scripted message-box service and lookup of window controls by object name.
#include "platform/CodePage.h"
#include "platform/MessageBoxes.h"

#include <QByteArray>
#include <QDir>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <fcntl.h>
#include <future>
#include <unistd.h>

namespace signetrix::test {

// A temporary folder; files are written with exact bytes.
class TempTree {
public:
    TempTree();
    QString path() const { return m_dir.path(); }
    QString abs(const QString& relative) const { return m_dir.path() + '/' + relative; }
    QByteArray native(const QString& relative) const; // native bytes of abs(relative)
    // Creates the file and its parent folders; returns its full path.
    QString write(const QString& relative, const QByteArray& bytes) const;
    QString mkdir(const QString& relative) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

// Puts "the executable" into a temporary folder for the lifetime of the object,
// so the settings file, log and archive land there.
class ExeFolderGuard {
public:
    explicit ExeFolderGuard(const QString& exeName = QStringLiteral("Signetrix"));
    ~ExeFolderGuard();
    QString folder() const { return m_dir.path() + '/'; }
    QString exePath() const { return m_exe; }
    QString file(const QString& name) const { return folder() + name; }

private:
    QTemporaryDir m_dir;
    QString m_exe;
};

// Points HOME at a temporary folder (so ~/Favorites is ours) while alive.
class HomeGuard {
public:
    HomeGuard();
    ~HomeGuard();
    QString home() const { return m_dir.path(); }
    QString favorites() const { return m_dir.path() + QStringLiteral("/Favorites"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
    bool m_hadOld;
};

// Switches the program's 8-bit code page for one scope and restores it after.
class CodePageGuard {
public:
    explicit CodePageGuard(codepage::Page page) : m_old(codepage::current()) { codepage::setCurrentForTesting(page); }
    ~CodePageGuard() { codepage::setCurrentForTesting(m_old); }
    CodePageGuard(const CodePageGuard&) = delete;
    CodePageGuard& operator=(const CodePageGuard&) = delete;

private:
    codepage::Page m_old;
};

// Records every message box and answers from a queue (then with the default).
class ScriptedMessageBoxes : public platform::MessageBoxService {
public:
    struct Shown {
        platform::MessageKind kind;
        QString title;
        QString text;
        platform::MessageButtons buttons;
    };
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;
    platform::MessageAnswer show(platform::MessageKind kind, const QString& title, const QString& text,
                                 platform::MessageButtons buttons) override;
    void answerNext(platform::MessageAnswer answer) { m_answers.push_back(answer); }
    const std::vector<Shown>& shown() const { return m_shown; }
    QStringList texts() const;
    void clear() { m_shown.clear(); }

private:
    std::deque<platform::MessageAnswer> m_answers;
    std::vector<Shown> m_shown;
    platform::MessageBoxService* m_previous;
};

// The descendant of root with the given object name; fails the test (and
// returns nullptr) naming the missing object.
template <typename T>
T* child(QObject* root, const QString& name)
{
    T* found = root ? root->findChild<T*>(name) : nullptr;
    if (!found) ADD_FAILURE() << "no " << T::staticMetaObject.className() << " named " << name.toStdString();
    return found;
}

// Runs work on its own thread so that a test that would hang fails instead:
// past the limit it reports a failure, then calls release (which must make
// the work end) until the work has ended.
template <typename Work, typename Release>
void runWithWatchdog(const char* what, Work work, Release release,
                     std::chrono::seconds limit = std::chrono::seconds(30))
{
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(limit) == std::future_status::ready) return done.get();
    ADD_FAILURE() << what << " did not end within " << limit.count() << " s";
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) release();
    done.get();
}

// Gives end-of-file to a reader blocked on a named pipe: a writer comes and goes.
inline void releasePipeReader(const QByteArray& fifo)
{
    const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
}

} // namespace signetrix::test
