#pragma once
// The account sheet: the e-mail and password boxes, registration, validation
// and credential changes through the registration page loaded in the hidden
// browser wbSubmitZem. The browser's tag holds the request state; each
// completed document moves it on (see backup/Account.h).
//
// A request under way shows "Connexion au serveur..." and disables the
// buttons that would start another; a registration page that cannot be
// loaded, an answer that never comes (30 s without a document) or a page from
// another host gives the request up with one message box and leaves the
// sheet as it was before the click.
#include "backup/Account.h"

#include <QObject>
#include <QString>
#include <QUrl>

class QTimer;

namespace Ui {
class BackupPage;
}

namespace signetrix {

namespace platform {
class EmbeddedBrowser;
}

// Sets the value of every element of every form of the loaded document whose
// name is `name`; true when one did. The first failure ends the search.
bool SetWebFormField(platform::EmbeddedBrowser& browser, const QString& name, const QString& value);

class AccountController : public QObject {
    Q_OBJECT

public:
    static constexpr int kAnswerTimeoutMs = 30000;
    static inline const QString kNoAnswerText = QStringLiteral(
        "Le serveur d'inscription ne répond pas. Vérifiez votre connexion puis réessayez.");
    static inline const QString kConnectingText = QStringLiteral("Connexion au serveur...");

    explicit AccountController(Ui::BackupPage& page, QObject* parent = nullptr);
    ~AccountController() override;

    void edEmailChange();
    void edPasswordChange();
    void btnOpenAccountClick();
    void btnInscriptionClick();
    void btnCancelInscriptionClick();
    void btnValidationClick();
    void Button18Click();
    void btnUpdateInscriptionClick();
    void btnSubmitUpdateInscriptionClick();
    void btnCancelUpdateInscriptionClick();

    void NavigateAccountBrowser(const QString& url, int state);
    void SubmitAccountForm(backup::AccountAction action);
    void wbSubmitZemDocumentComplete(const QUrl& url, bool ok);

    int AccountRequestState() const;
    bool requestUnderWay() const { return m_underWay; }
    // The old credentials of a change, taken by "Modifier".
    QString SavedEmail;
    QString SavedPasswordCrypt;

    void setAnswerTimeout(int milliseconds);

private:
    // What a request puts back when it is given up.
    struct Before {
        int registrationState = 0; // gbSettingAccount's tag
        int accountPanelTag = 1;   // pCompte's tag
    };
    void beginRequest();
    void endRequest();
    void giveUp();
    void setRequestState(int state);
    bool fromRegistrationHost(const QUrl& url) const;
    void judgeAnswer(int state);

    Ui::BackupPage& m_page;
    platform::EmbeddedBrowser& m_browser;
    QTimer* m_timeout = nullptr;
    bool m_underWay = false;
    Before m_before;
};

} // namespace signetrix
