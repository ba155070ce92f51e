#include "app/dialogs/UTemplateHint.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace signetrix::dialogs {

QRect hintGeometry(QPoint anchor, QSize textSize, const QRect& screenArea)
{
    const int width = textSize.width() + kHintSideWidth + kHintSideWidth + 20;
    const int height = textSize.height() + kHintTitleHeight + kHintBottomHeight;
    QRect rect(anchor, QSize(width, height));
    if (rect.bottom() > screenArea.bottom()) rect.moveBottom(screenArea.bottom());
    if (rect.right() > screenArea.right()) rect.moveRight(screenArea.right());
    // Larger than the screen: keep the title and the left edge reachable.
    if (rect.top() < screenArea.top()) {
        rect.moveTop(screenArea.top());
        rect.setHeight(std::min(rect.height(), screenArea.height()));
    }
    if (rect.left() < screenArea.left()) {
        rect.moveLeft(screenArea.left());
        rect.setWidth(std::min(rect.width(), screenArea.width()));
    }
    return rect;
}

namespace {

QFont arial(int pixels, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

TfrmTemplateHint::TfrmTemplateHint(QWidget* owner, const QString& text, const QString& title, QPoint anchor)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint)
    , m_text(text)
    , m_anchor(anchor)
{
    setObjectName(QStringLiteral("frmTemplateHint"));
    setWindowTitle(title);
    setModal(true);
    QPalette tip = palette();
    tip.setColor(QPalette::Window, tip.color(QPalette::ToolTipBase));
    tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
    tip.setColor(QPalette::WindowText, tip.color(QPalette::ToolTipText));
    tip.setColor(QPalette::Text, tip.color(QPalette::ToolTipText));
    setPalette(tip);
    setAutoFillBackground(true);

    auto band = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setCursor(Qt::PointingHandCursor);
        label->setAlignment(Qt::AlignCenter);
        label->installEventFilter(this);
        return label;
    };
    m_title = band("pTitle");
    m_title->setFont(arial(13, true));
    m_title->setText(title);
    m_left = band("pLeft");
    m_right = band("pRight");
    m_bottom = band("pBottom");
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    tahoma.setUnderline(true);
    m_bottom->setFont(tahoma);
    m_bottom->setText(QStringLiteral("Cliquez pour fermer la fenêtre"));

    m_memo = new QPlainTextEdit(this);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setFrameShape(QFrame::NoFrame);
    m_memo->setFont(arial(13, false));
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->document()->setDocumentMargin(0);
    m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_memo->setContextMenuPolicy(Qt::NoContextMenu);
    m_memo->setPlainText(text);
    m_memo->installEventFilter(this);
    m_memo->viewport()->installEventFilter(this);

    m_measure = band("lHint");
    m_measure->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_measure->setFont(arial(13, false));
    m_measure->setText(text);
    m_measure->hide();
}

QSize TfrmTemplateHint::measuredTextSize() const
{
    const QFontMetrics metrics(m_measure->font());
    return metrics.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs,
                                m_text)
        .size();
}

QRect TfrmTemplateHint::screenArea() const
{
    QScreen* screen = QGuiApplication::screenAt(m_anchor);
    if (!screen && parentWidget()) screen = parentWidget()->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(m_anchor, QSize(1 << 15, 1 << 15));
}

void TfrmTemplateHint::placeOnScreen()
{
    const QSize wanted = measuredTextSize();
    const QRect rect = hintGeometry(m_anchor, wanted, screenArea());
    // Cut to the screen: the text can then only be read by scrolling it.
    const bool cut = rect.width() < wanted.width() + 2 * kHintSideWidth + 20
                     || rect.height() < wanted.height() + kHintTitleHeight + kHintBottomHeight;
    m_memo->setVerticalScrollBarPolicy(cut ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    m_memo->setHorizontalScrollBarPolicy(cut ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setFixedSize(rect.size());
    move(rect.topLeft());
    layoutParts();
    m_memo->show();
    m_measure->hide();
    update();
}

void TfrmTemplateHint::layoutParts()
{
    const int w = width();
    const int h = height();
    const int middle = std::max(0, h - kHintTitleHeight - kHintBottomHeight);
    m_title->setGeometry(0, 0, w, kHintTitleHeight);
    m_bottom->setGeometry(0, h - kHintBottomHeight, w, kHintBottomHeight);
    m_left->setGeometry(0, kHintTitleHeight, kHintSideWidth, middle);
    m_right->setGeometry(std::max(kHintSideWidth, w - kHintSideWidth), kHintTitleHeight, kHintSideWidth, middle);
    m_memo->setGeometry(kHintSideWidth, kHintTitleHeight, std::max(0, w - 2 * kHintSideWidth), middle);
}

void TfrmTemplateHint::showEvent(QShowEvent* event)
{
    placeOnScreen();
    QDialog::showEvent(event);
}

void TfrmTemplateHint::keyPressEvent(QKeyEvent* event)
{
    // Only a click closes the pop-up; Escape would otherwise reject it.
    event->accept();
}

void TfrmTemplateHint::mouseReleaseEvent(QMouseEvent* event)
{
    accept();
    QDialog::mouseReleaseEvent(event);
}

bool TfrmTemplateHint::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return true; // no text selection or caret in the memo; the release closes
    case QEvent::MouseButtonRelease:
        accept();
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void showHelp(HelpTable table, QWidget* anchor)
{
    const QPoint origin = anchor ? anchor->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
    TfrmTemplateHint hint(anchor ? anchor->window() : nullptr, helpText(table), helpTitle(table), origin);
    hint.exec();
}

} // namespace signetrix::dialogs
