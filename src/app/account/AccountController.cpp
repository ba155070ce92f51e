#include "app/account/AccountController.h"

#include "app/ErrorDisplay.h"
#include "app/WindowServices.h"
#include "app/settings/SettingsPages.h"
#include "app/widgets/EditBox.h"
#include "app/widgets/PageControl.h"
#include "platform/MessageBoxes.h"
#include "platform/browser/EmbeddedBrowser.h"

#include "ui_BackupPage.h"

#include <QTimer>

namespace signetrix {
namespace {

using backup::AccountAction;
using platform::EmbeddedBrowser;

int tagOf(const QObject* object) { return object->property("Tag").toInt(); }
void setTag(QObject* object, int value) { object->setProperty("Tag", value); }

bool isRequestState(int state)
{
    return state == backup::AddRequest || state == backup::ValidateRequest || state == backup::UpdateRequest;
}

bool isAnswerState(int state)
{
    return state == backup::AddAnswer || state == backup::ValidateAnswer || state == backup::UpdateAnswer;
}

} // namespace

bool SetWebFormField(EmbeddedBrowser& browser, const QString& name, const QString& value)
{
    if (browser.elementCountByTagName(QStringLiteral("FORM")) <= 0) return false;
    bool result = false;
    const int forms = browser.formCount();
    for (int form = 0; form < forms; ++form) {
        const int elements = browser.formElementCount(form);
        for (int element = 0; element < elements; ++element) {
            if (browser.formElementName(form, element) != name) continue;
            if (!browser.setFormElementValue(form, element, value)) return result;
            result = true;
        }
    }
    return result;
}

AccountController::AccountController(Ui::BackupPage& page, QObject* parent)
    : QObject(parent), m_page(page), m_browser(*page.wbSubmitZem)
{
    m_timeout = new QTimer(this);
    m_timeout->setSingleShot(true);
    m_timeout->setInterval(kAnswerTimeoutMs);
    connectHandler(m_timeout, &QTimer::timeout, this, [this] { giveUp(); });

    Ui::BackupPage& p = m_page;
    connectHandler(p.edEmail, &QLineEdit::textChanged, this, [this] { edEmailChange(); });
    connectHandler(p.edPassword, &QLineEdit::textChanged, this, [this] { edPasswordChange(); });
    const std::pair<QPushButton*, void (AccountController::*)()> buttons[] = {
        {p.btnOpenAccount, &AccountController::btnOpenAccountClick},
        {p.btnInscription, &AccountController::btnInscriptionClick},
        {p.btnCancelInscription, &AccountController::btnCancelInscriptionClick},
        {p.btnValidation, &AccountController::btnValidationClick},
        {p.Button18, &AccountController::Button18Click},
        {p.btnUpdateInscription, &AccountController::btnUpdateInscriptionClick},
        {p.btnSubmitUpdateInscription, &AccountController::btnSubmitUpdateInscriptionClick},
        {p.btnCancelUpdateInscription, &AccountController::btnCancelUpdateInscriptionClick},
    };
    for (const auto& [button, handler] : buttons)
        connectHandler(button, &QPushButton::clicked, this, [this, handler = handler] { (this->*handler)(); });
    connectHandler(&m_browser, &EmbeddedBrowser::documentComplete, this,
                   [this](const QUrl& url, bool ok) { wbSubmitZemDocumentComplete(url, ok); });
    edEmailChange();
}

AccountController::~AccountController() = default;

int AccountController::AccountRequestState() const { return tagOf(&m_browser); }

void AccountController::setRequestState(int state) { setTag(&m_browser, state); }

void AccountController::setAnswerTimeout(int milliseconds) { m_timeout->setInterval(milliseconds); }

void AccountController::edEmailChange()
{
    // While a request is under way no second one may start.
    m_page.btnInscription->setEnabled(!m_underWay && backup::IsValidEmail(m_page.edEmail->text()));
}

void AccountController::edPasswordChange()
{
    m_page.edPasswordCrypt->setText(encipheredPassword(m_page.edPassword->text()));
}

void AccountController::btnOpenAccountClick()
{
    ShowPanelCentredIn(m_page.pCompte, m_page.gbSettingAccount);
    m_page.pInscription->setVisible(false);
    edEmailChange();
}

void AccountController::btnInscriptionClick()
{
    beginRequest();
    setTag(m_page.gbSettingAccount, 1);
    NavigateAccountBrowser(backup::RegistrationPageUrl(), backup::AddRequest);
}

void AccountController::btnCancelInscriptionClick()
{
    ShowPanelCentredIn(m_page.pInscription, m_page.gbSettingAccount);
    m_page.pCompte->setVisible(false);
}

void AccountController::btnValidationClick()
{
    beginRequest();
    setTag(m_page.pCompte, 0);
    NavigateAccountBrowser(backup::RegistrationPageUrl(), backup::ValidateRequest);
}

void AccountController::Button18Click()
{
    if (tagOf(m_page.gbSettingAccount) == 1) {
        setTag(m_page.gbSettingAccount, 0);
        m_page.pInscriptionValide->setVisible(false);
        btnOpenAccountClick();
    } else {
        ShowPanelCentredIn(m_page.pInscription, m_page.gbSettingAccount);
        m_page.pCompte->setVisible(false);
    }
}

void AccountController::btnUpdateInscriptionClick()
{
    SetEditEditable(m_page.edEmail, true);
    SetEditEditable(m_page.edPassword, true);
    SavedEmail = m_page.edEmail->text();
    SavedPasswordCrypt = m_page.edPasswordCrypt->text();
    m_page.pSubmitUpdateInscription->setVisible(true);
    m_page.pUpdateInscription->setVisible(false);
    m_page.pValidationInscription->setVisible(false);
}

void AccountController::btnSubmitUpdateInscriptionClick()
{
    if (m_page.edEmail->text() == SavedEmail && m_page.edPasswordCrypt->text() == SavedPasswordCrypt) return;
    beginRequest();
    NavigateAccountBrowser(backup::RegistrationPageUrl(), backup::UpdateRequest);
}

void AccountController::btnCancelUpdateInscriptionClick()
{
    SetEditEditable(m_page.edEmail, false);
    SetEditEditable(m_page.edPassword, false);
    m_page.pUpdateInscription->setVisible(true);
    m_page.pSubmitUpdateInscription->setVisible(false);
    m_page.pValidationInscription->setVisible(false);
}

void AccountController::NavigateAccountBrowser(const QString& url, int state)
{
    m_browser.setVisible(true);
    m_page.pSubmitZem->resize(1, 1);
    m_page.pSubmitZem->setVisible(true);
    setRequestState(state);
    m_browser.navigate(url);
}

void AccountController::SubmitAccountForm(AccountAction action)
{
    m_page.pSubmitZem->setVisible(true);
    struct HideAfter {
        QWidget* panel;
        ~HideAfter() { panel->setVisible(false); }
    } hide{m_page.pSubmitZem};
    const backup::AccountCredentials credentials{m_page.edEmail->text(), m_page.edPasswordCrypt->text(), SavedEmail,
                                                 SavedPasswordCrypt};
    for (const auto& [name, value] : backup::AccountFormFields(action, credentials))
        SetWebFormField(m_browser, name, value);
    // Without a form nothing will answer: no use waiting for it.
    if (!m_browser.submitForm(0) && m_underWay) giveUp();
}

bool AccountController::fromRegistrationHost(const QUrl& url) const
{
    const QUrl page(backup::RegistrationPageUrl());
    return url.scheme() == page.scheme() && url.host() == page.host() && url.port(80) == page.port(80);
}

void AccountController::wbSubmitZemDocumentComplete(const QUrl& url, bool)
{
    const int state = AccountRequestState();
    if (!isRequestState(state) && !isAnswerState(state)) return;
    // The registration page must be the server's own, and an answer must
    // have come from it; an HTTP error page is still the server's answer.
    const auto error = m_browser.lastLoadError().kind;
    const bool received = error != EmbeddedBrowser::LoadError::Network && fromRegistrationHost(url);
    if (isRequestState(state)) {
        if (!received || error != EmbeddedBrowser::LoadError::None) {
            if (m_underWay) giveUp();
            return;
        }
        m_timeout->start();
        switch (state) {
        case backup::AddRequest:
            setRequestState(backup::AddAnswer);
            SubmitAccountForm(AccountAction::Add);
            break;
        case backup::ValidateRequest:
            setRequestState(backup::ValidateAnswer);
            SubmitAccountForm(AccountAction::Validate);
            break;
        default:
            setRequestState(backup::UpdateAnswer);
            SubmitAccountForm(AccountAction::Update);
            break;
        }
        return;
    }
    if (!received) {
        if (m_underWay) giveUp();
        return;
    }
    endRequest();
    judgeAnswer(state);
}

void AccountController::judgeAnswer(int state)
{
    Ui::BackupPage& p = m_page;
    const QString answer = backup::AccountAnswerText(m_browser.bodyInnerText());
    if (state == backup::AddAnswer) {
        if (answer.contains(QLatin1String("Validation en cours"))) {
            ShowPanelCentredIn(p.pInscriptionValide, p.gbSettingAccount);
            p.pInscriptionValide->raise();
        } else {
            p.Memo6->appendPlainText(QStringLiteral("erreur de Validation en cours"));
        }
        return;
    }
    if (state == backup::ValidateAnswer) {
        p.Memo6->appendPlainText(answer);
        const std::optional<QString> id = backup::ReadAccountId(answer);
        if (!id) {
            p.Memo6->appendPlainText(QStringLiteral("erreur de lecture de l'ID"));
            return;
        }
        p.edID->setText(*id);
        p.pInscriptionValide->setVisible(false);
        p.pValidationInscription->setVisible(false);
        p.pUpdateInscription->setVisible(true);
        SetEditEditable(p.edEmail, false);
        SetEditEditable(p.edPassword, false);
        ShowOnlySubPage(p.PageControlBackupWeb, p.tsBackup);
        p.PageControlBackupWeb->setPageTabVisible(p.tsRestore, true);
        p.PageControlBackupWeb->setPageTabVisible(p.tsSettingAccount, true);
        p.pCompte->setVisible(true);
        return;
    }
    if (answer.contains(QLatin1String("UpDate ok"))) {
        platform::showMessage(QStringLiteral("Mise à jour de vos identifiants effectués avec succès"));
    } else {
        platform::showMessage(QStringLiteral("Erreur lors de la mise à jour de vos identifiants"),
                              platform::MessageKind::Error);
        p.edEmail->setText(SavedEmail);
        p.edPasswordCrypt->setText(SavedPasswordCrypt);
    }
    SetEditEditable(p.edEmail, false);
    SetEditEditable(p.edPassword, false);
    p.pUpdateInscription->setVisible(true);
    p.pSubmitUpdateInscription->setVisible(false);
    p.pValidationInscription->setVisible(false);
}

void AccountController::beginRequest()
{
    m_before = {tagOf(m_page.gbSettingAccount), tagOf(m_page.pCompte)};
    m_underWay = true;
    m_page.lSettingAccount->setText(kConnectingText);
    for (QPushButton* button : {m_page.btnInscription, m_page.btnValidation, m_page.btnSubmitUpdateInscription})
        button->setEnabled(false);
    m_timeout->start();
}

void AccountController::endRequest()
{
    m_timeout->stop();
    m_underWay = false;
    m_page.lSettingAccount->clear();
    m_page.btnValidation->setEnabled(true);
    m_page.btnSubmitUpdateInscription->setEnabled(true);
    edEmailChange();
}

void AccountController::giveUp()
{
    if (!m_underWay) return;
    // Nothing that still arrives for this request may act on the sheet.
    setRequestState(backup::kAccountRequestIdle);
    m_browser.stop();
    m_page.pSubmitZem->setVisible(false);
    setTag(m_page.gbSettingAccount, m_before.registrationState);
    setTag(m_page.pCompte, m_before.accountPanelTag);
    endRequest();
    platform::showMessage(kNoAnswerText, platform::MessageKind::Warning);
}

} // namespace signetrix
