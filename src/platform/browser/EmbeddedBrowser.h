#pragma once
// EmbeddedBrowser: the web view the main window embeds (banner strip, redirect
// preview, hidden account form). It offers a small, engine-neutral set of
// operations and events so that window code never touches the engine itself.
//
// Threading and timing model:
// - Everything runs on the user-interface thread.
// - Navigation (navigate, reload, loadHtml, a submitted form) is asynchronous:
//   it returns at once, and documentComplete is raised when the document has
//   loaded (also for the engine's own error page when a site cannot be
//   reached). A load ended by stop() raises no documentComplete.
// - readyState(), currentAddress(), documentPresent() and isLoading() answer
//   at once from the state tracked from the engine's signals.
// - The document accessors (body text and style, forms, element counts) have
//   to ask the page's script engine, which answers asynchronously. They look
//   synchronous: each one pumps a local event loop (user input excluded) until
//   the page answers or scriptTimeout() elapses. Timers and other queued events
//   therefore run inside these calls; callers must not rely on the window
//   staying still meanwhile. Without a document, or when the page does not
//   answer in time, they return the neutral value (0, empty text, false).
//   The engine only answers such a nested wait when the outer loop is a real
//   event loop (QApplication::exec, QEventLoop::exec, QSignalSpy::wait); under
//   a bare processEvents() loop (QTest::qWaitFor) an accessor called from a
//   handler gets no answer and times out.
// - documentComplete is delivered through the event queue, so its handlers may
//   use the document accessors. newWindow is raised while the engine waits for
//   the answer: its handlers must decide at once and must not use them.
// - newWindow is raised when a page asks for a new window (a link with a
//   target, window.open). A handler that sets *cancel refuses it and no window
//   opens anywhere. Otherwise the address goes to the user's default web
//   browser (through the replaceable external opener below); the embedded
//   view itself never opens windows.
#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
class QWebEngineView;
QT_END_NAMESPACE

namespace signetrix::platform {

class EmbeddedBrowser : public QWidget {
    Q_OBJECT

public:
    // Values of readyState(), as the callers count them.
    enum ReadyState {
        Uninitialized = 0, // nothing loaded or being loaded
        Loading = 1,       // a navigation is under way, no new document yet
        Loaded = 2,        // not reported by this engine; kept for the numbering
        Interactive = 3,   // the new document is parsed, sub-resources may still load
        Complete = 4,      // the document and its resources have loaded
    };

    // Why the last document failed, as the engine reported it.
    struct LoadError {
        enum Kind {
            None,    // the document loaded
            Http,    // the server answered an error status; its page is the document
            Network, // no answer (refused, unknown host, reset, TLS): the engine's error page
        };
        Kind kind = None;
        int code = 0; // the HTTP status for Http, the engine's error number otherwise
    };

    struct Overflow {
        QString x;
        QString y;
    };

    explicit EmbeddedBrowser(QWidget* parent = nullptr);
    ~EmbeddedBrowser() override;

    // Navigation -----------------------------------------------------------
    // A text without a scheme is taken the way a user would type it
    // ("www.example.com" -> "http://www.example.com").
    void navigate(const QString& url);
    void navigate(const QUrl& url);
    void stop();   // ends any load in progress
    void reload(); // fetches the page on display again
    // Shows the given HTML source as the document (content, not a URL). Bytes
    // are decoded by the given charset (as from an HTTP Content-Type), else as
    // a browser decodes a page (its meta charset, else Windows-1252); the
    // QString form is sent as UTF-8. The document's address is "about:blank".
    void loadHtml(const QByteArray& html, const QByteArray& charset = QByteArray());
    void loadHtml(const QString& html);

    // Tracked state (immediate) ----------------------------------------------
    int readyState() const;
    // The address of the page on display after every redirect the engine
    // followed; empty when nothing is loaded.
    QString currentAddress() const;
    bool documentPresent() const;
    bool isLoading() const;
    // Of the document last reported by documentComplete.
    LoadError lastLoadError() const { return m_lastError; }

    // Document access (pumps a local event loop, see above) --------------------
    // Sets the body's overflow-x / overflow-y style; "hidden" for both removes
    // the scroll bars. Does not wait for the page (safe in any handler);
    // false without a document.
    bool setBodyOverflow(const QString& overflowX, const QString& overflowY);
    Overflow bodyOverflow();
    QString bodyInnerText(); // the rendered text of the body, without markup
    int formCount();
    int formElementCount(int form);
    QString formElementName(int form, int element);
    QString formElementValue(int form, int element);
    bool setFormElementValue(int form, int element, const QString& value);
    // Submits the form the way script's form.submit() does; the answer page
    // loads in this browser and raises documentComplete.
    bool submitForm(int form);
    int elementCountByTagName(const QString& tagName); // e.g. "FORM"
    // The value of any script expression in the document (in the wrapper's
    // own script world: the page's elements, not its script variables); an
    // invalid value without a document or an answer in time.
    QVariant evaluate(const QString& script);

    int scriptTimeout() const { return m_scriptTimeoutMs; }
    void setScriptTimeout(int milliseconds) { m_scriptTimeoutMs = milliseconds; }

    // Where accepted new-window requests go. The default hands the address to
    // the desktop's default web browser; tests install a recorder. Passing an
    // empty function restores the default.
    using ExternalOpener = std::function<void(const QUrl&)>;
    static void setExternalOpener(ExternalOpener opener);

signals:
    // A document has loaded (ok is false for the engine's error page).
    void documentComplete(const QUrl& url, bool ok);
    // A page asks for a new window; set *cancel to refuse it. Deliver with a
    // direct connection: the answer is read as soon as the signal returns.
    void newWindow(const QUrl& url, bool* cancel);

private:
    class Page;
    friend class Page;
    void handleNewWindow(const QUrl& url);

    struct Engine;
    std::unique_ptr<Engine> m_engine;
    int m_readyState = Uninitialized;
    bool m_documentPresent = false;
    bool m_loading = false;
    LoadError m_lastError;
    int m_scriptTimeoutMs = 5000;
};

} // namespace signetrix::platform
