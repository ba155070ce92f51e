#include "support/TestSupport.h"

#include "platform/AppPaths.h"

#include <QFile>
#include <QFileInfo>

namespace signetrix::test {

TempTree::TempTree() { EXPECT_TRUE(m_dir.isValid()); }

QByteArray TempTree::native(const QString& relative) const { return QFile::encodeName(abs(relative)); }

QString TempTree::write(const QString& relative, const QByteArray& bytes) const
{
    const QString full = abs(relative);
    QDir().mkpath(QFileInfo(full).path());
    QFile f(full);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << full.toStdString();
    f.write(bytes);
    return full;
}

QString TempTree::mkdir(const QString& relative) const
{
    const QString full = abs(relative);
    QDir().mkpath(full);
    return full;
}

QByteArray TempTree::read(const QString& relative) const
{
    QFile f(abs(relative));
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return f.readAll();
}

bool TempTree::exists(const QString& relative) const { return QFileInfo::exists(abs(relative)); }

ExeFolderGuard::ExeFolderGuard(const QString& exeName)
{
    EXPECT_TRUE(m_dir.isValid());
    m_exe = m_dir.path() + '/' + exeName;
    platform::setExecutablePathForTesting(m_exe);
}

ExeFolderGuard::~ExeFolderGuard() { platform::setExecutablePathForTesting(QString()); }

HomeGuard::HomeGuard() : m_old(qgetenv("HOME")), m_hadOld(qEnvironmentVariableIsSet("HOME"))
{
    EXPECT_TRUE(m_dir.isValid());
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

HomeGuard::~HomeGuard()
{
    if (m_hadOld) qputenv("HOME", m_old);
    else qunsetenv("HOME");
}

ScriptedMessageBoxes::ScriptedMessageBoxes() : m_previous(platform::setMessageBoxService(this)) {}
ScriptedMessageBoxes::~ScriptedMessageBoxes() { platform::setMessageBoxService(m_previous); }

platform::MessageAnswer ScriptedMessageBoxes::show(platform::MessageKind kind, const QString& title,
                                                    const QString& text, platform::MessageButtons buttons)
{
    m_shown.push_back({kind, title, text, buttons});
    if (!m_answers.empty()) {
        const auto a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    switch (buttons) {
    case platform::MessageButtons::YesNo: return platform::MessageAnswer::No;
    case platform::MessageButtons::OkCancel: return platform::MessageAnswer::Cancel;
    case platform::MessageButtons::Ok: break;
    }
    return platform::MessageAnswer::Ok;
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList out;
    for (const auto& s : m_shown) out << s.text;
    return out;
}

} // namespace signetrix::test
