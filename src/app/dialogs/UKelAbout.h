#pragma once
// The about box: product name and file version from the version information,
// the scrolling credits, a list of system figures refreshed every 10 s while
// the box exists, the maker's e-mail and web addresses (a click hands them to
// the user's own programs) and the copyright line.
//
// Usage from the main window: showAboutBox(this, BuildCreditsText()) opens it
// modally, centred on the screen, and returns once it has closed. The box
// deletes itself when closed.
#include "platform/SystemFigures.h"

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;
class QTableWidget;

namespace signetrix::dialogs {

class TKelPanel;
class TSecretPanel;
class TVersionInfo;

inline constexpr int kAboutRefreshInterval = 10000; // ms

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* owner = nullptr);

    void setCredits(const QString& text);
    // Where the system figures are read; the next refresh uses them.
    void setSystemFigureFiles(const platform::SystemFigureFiles& files) { m_files = files; }

    static QString makerEmail();
    static QString makerWebsite();
    static QString copyrightLine(int currentYear);

public slots:
    void OKButtonClick();
    void lEMailClick();
    void lWebsiteClick();
    // Deletes every row of the system list and adds the nine rows again.
    void TimerRefreshTimer();

protected:
    void showEvent(QShowEvent* event) override;  // starts the credits
    void hideEvent(QHideEvent* event) override;  // stops them
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TKelPanel* m_frame;
    QLabel* m_productName;
    QLabel* m_fileVersion;
    TSecretPanel* m_credits;
    QTableWidget* m_system;
    QLabel* m_email;
    QLabel* m_website;
    QPushButton* m_ok;
    TVersionInfo* m_version;
    QTimer* m_refresh;
    platform::SystemFigureFiles m_files;
};

// Opens the about box modally over owner, centred on the screen, with the credits.
void showAboutBox(QWidget* owner, const QString& credits);

} // namespace signetrix::dialogs
