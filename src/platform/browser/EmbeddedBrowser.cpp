#include "platform/browser/EmbeddedBrowser.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace signetrix::platform {

namespace {

// Our scripts run in their own world: they share the page's DOM but not its
// globals, so a page cannot redefine what we call.
constexpr quint32 kScriptWorld = QWebEngineScript::ApplicationWorld;

// Logged by the ready script below when the DOM of a new document is parsed.
const QString kInteractiveMarker = QStringLiteral("\x01signetrix-document-interactive");

EmbeddedBrowser::ExternalOpener& externalOpener()
{
    static EmbeddedBrowser::ExternalOpener opener;
    return opener;
}

QString jsString(const QString& text)
{
    // A JSON string literal is a valid script string literal.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// document.forms[form].elements[element], or null.
QString elementExpr(int form, int element)
{
    return QStringLiteral("(function(){var f=document.forms[%1];if(!f)return null;"
                          "return f.elements[%2]||null;})()")
        .arg(form)
        .arg(element);
}

// The given property of a form element as text; empty when the element or
// the property is missing.
QString elementTextScript(int form, int element, QLatin1String property)
{
    return QStringLiteral("(function(){var e=%1;return e&&e.%2!==undefined?String(e.%2):'';})()")
        .arg(elementExpr(form, element), property);
}

} // namespace

class EmbeddedBrowser::Page : public QWebEnginePage {
public:
    Page(QWebEngineProfile* profile, EmbeddedBrowser* owner) : QWebEnginePage(profile, owner), m_owner(owner) {}

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                  const QString&) override
    {
        if (message == kInteractiveMarker && m_owner->m_loading
            && m_owner->m_readyState < EmbeddedBrowser::Interactive) {
            m_owner->m_readyState = EmbeddedBrowser::Interactive;
            m_owner->m_documentPresent = true;
        }
    }

private:
    EmbeddedBrowser* m_owner;
};

struct EmbeddedBrowser::Engine {
    // Off the record: nothing of the visited sites is kept on disk. The page
    // must go before its profile, hence the explicit order in the destructor.
    QWebEngineProfile* profile = nullptr;
    Page* page = nullptr;
    QWebEngineView* view = nullptr;
};

EmbeddedBrowser::EmbeddedBrowser(QWidget* parent) : QWidget(parent), m_engine(std::make_unique<Engine>())
{
    m_engine->profile = new QWebEngineProfile(this);
    m_engine->page = new Page(m_engine->profile, this);
    m_engine->view = new QWebEngineView(this);
    m_engine->view->setObjectName(QStringLiteral("embeddedView"));
    m_engine->view->setPage(m_engine->page);
    m_engine->view->setContextMenuPolicy(Qt::NoContextMenu);

    QWebEngineSettings* settings = m_engine->page->settings();
    // Pages may ask for windows; newWindow decides whether anything opens.
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);

    QWebEngineScript ready;
    ready.setName(QStringLiteral("signetrix-ready-state"));
    ready.setInjectionPoint(QWebEngineScript::DocumentReady);
    ready.setWorldId(kScriptWorld);
    ready.setRunsOnSubFrames(false);
    ready.setSourceCode(QStringLiteral("console.log(%1);").arg(jsString(kInteractiveMarker)));
    m_engine->page->scripts().insert(ready);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_engine->view);

    connect(m_engine->page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {

        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            m_loading = true;
            m_readyState = Loading;
            break;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            // Stopped or replaced by another navigation: no new document.
            m_loading = false;
            m_readyState = m_documentPresent ? Complete : Uninitialized;
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
        case QWebEngineLoadingInfo::LoadFailedStatus:
            // A failed load still leaves a document: the engine's error page.
            m_loading = false;
            m_documentPresent = true;
            m_readyState = Complete;
            m_lastError = {};
            if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
                const bool http = info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain;
                m_lastError = {http ? LoadError::Http : LoadError::Network, info.errorCode()};
            }
            // Raised from our own event, not from inside the engine's
            // notification: the engine cannot serve a handler's document
            // queries while that notification is still on the stack.
            QMetaObject::invokeMethod(
                this,
                [this, url = info.url(), ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus] {
                    emit documentComplete(url, ok);
                },
                Qt::QueuedConnection);
            break;
        }
    });
    connect(m_engine->page, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) { handleNewWindow(request.requestedUrl()); });
}

EmbeddedBrowser::~EmbeddedBrowser()
{
    delete m_engine->view;
    delete m_engine->page;
    delete m_engine->profile;
}

void EmbeddedBrowser::navigate(const QString& url)
{
    navigate(QUrl::fromUserInput(url));
}

void EmbeddedBrowser::navigate(const QUrl& url)
{
    m_engine->page->load(url);
}

void EmbeddedBrowser::stop()
{
    m_engine->page->triggerAction(QWebEnginePage::Stop);
}

void EmbeddedBrowser::reload()
{
    m_engine->page->triggerAction(QWebEnginePage::Reload);
}

void EmbeddedBrowser::loadHtml(const QByteArray& html, const QByteArray& charset)
{
    // Only a plain token may go into the MIME type.
    static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9._:-]{1,40}$"));
    const QString name = QString::fromLatin1(charset);
    const QString mimeType = token.match(name).hasMatch() ? QStringLiteral("text/html;charset=") + name
                                                          : QStringLiteral("text/html");
    m_engine->page->setContent(html, mimeType, QUrl(QStringLiteral("about:blank")));
}

void EmbeddedBrowser::loadHtml(const QString& html)
{
    m_engine->page->setContent(html.toUtf8(), QStringLiteral("text/html;charset=UTF-8"),
                               QUrl(QStringLiteral("about:blank")));
}

int EmbeddedBrowser::readyState() const
{
    return m_readyState;
}

QString EmbeddedBrowser::currentAddress() const
{
    // Before the first document the engine reports the address being asked
    // for, which is not yet on display.
    if (!m_documentPresent) return QString();
    return m_engine->page->url().toString();
}

bool EmbeddedBrowser::documentPresent() const
{
    return m_documentPresent;
}

bool EmbeddedBrowser::isLoading() const
{
    return m_loading;
}

QVariant EmbeddedBrowser::evaluate(const QString& script)
{
    if (!m_documentPresent) return QVariant();

    // The callback may arrive after we gave up waiting, or after this object is
    // gone: it only touches the shared slot.
    struct Slot {
        bool done = false;
        QVariant value;
        QPointer<QEventLoop> loop;
    };
    auto slot = std::make_shared<Slot>();
    QEventLoop loop;
    slot->loop = &loop;
    m_engine->page->runJavaScript(script, kScriptWorld, [slot](const QVariant& value) {
        slot->done = true;
        slot->value = value;
        if (slot->loop) slot->loop->quit();
    });
    if (!slot->done) {
        QTimer::singleShot(m_scriptTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    slot->loop = nullptr;
    return slot->done ? slot->value : QVariant();
}

bool EmbeddedBrowser::setBodyOverflow(const QString& overflowX, const QString& overflowY)
{
    // Nothing to wait for: scripts run in order, so a later query sees it.
    if (!m_documentPresent) return false;
    m_engine->page->runJavaScript(QStringLiteral("(function(){var b=document.body;if(!b)return;"
                                                 "b.style.overflowX=%1;b.style.overflowY=%2;})()")
                                      .arg(jsString(overflowX), jsString(overflowY)),
                                  kScriptWorld);
    return true;
}

EmbeddedBrowser::Overflow EmbeddedBrowser::bodyOverflow()
{
    const QVariant value = evaluate(QStringLiteral(
        "(function(){var b=document.body;return b?[b.style.overflowX,b.style.overflowY]:null;})()"));
    const QVariantList pair = value.toList();
    if (pair.size() != 2) return {};
    return {pair[0].toString(), pair[1].toString()};
}

QString EmbeddedBrowser::bodyInnerText()
{
    return evaluate(QStringLiteral("document.body?document.body.innerText:''")).toString();
}

int EmbeddedBrowser::formCount()
{
    return evaluate(QStringLiteral("document.forms.length")).toInt();
}

int EmbeddedBrowser::formElementCount(int form)
{
    return evaluate(QStringLiteral("(function(){var f=document.forms[%1];return f?f.elements.length:0;})()")
                        .arg(form))
        .toInt();
}

QString EmbeddedBrowser::formElementName(int form, int element)
{
    return evaluate(elementTextScript(form, element, QLatin1String("name"))).toString();
}

QString EmbeddedBrowser::formElementValue(int form, int element)
{
    return evaluate(elementTextScript(form, element, QLatin1String("value"))).toString();
}

bool EmbeddedBrowser::setFormElementValue(int form, int element, const QString& value)
{
    return evaluate(QStringLiteral("(function(){var e=%1;if(!e)return false;e.value=%2;return true;})()")
                        .arg(elementExpr(form, element), jsString(value)))
        .toBool();
}

bool EmbeddedBrowser::submitForm(int form)
{
    // Deferred, so the answer comes back before the navigation replaces the
    // document that runs the script.
    return evaluate(QStringLiteral("(function(){var f=document.forms[%1];if(!f)return false;"
                                   "setTimeout(function(){HTMLFormElement.prototype.submit.call(f);},0);"
                                   "return true;})()")
                        .arg(form))
        .toBool();
}

int EmbeddedBrowser::elementCountByTagName(const QString& tagName)
{
    return evaluate(QStringLiteral("document.getElementsByTagName(%1).length").arg(jsString(tagName))).toInt();
}

void EmbeddedBrowser::setExternalOpener(ExternalOpener opener)
{
    externalOpener() = std::move(opener);
}

void EmbeddedBrowser::handleNewWindow(const QUrl& url)
{
    bool cancel = false;
    emit newWindow(url, &cancel);
    if (cancel) return;
    if (const ExternalOpener& opener = externalOpener())
        opener(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace signetrix::platform
