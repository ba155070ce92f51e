#include "app/dialogs/UKelAbout.h"

#include "app/dialogs/KelPanel.h"
#include "app/dialogs/Placement.h"
#include "app/dialogs/SecretPanel.h"
#include "platform/desktop/ShellOpen.h"
#include "app/dialogs/VersionInfo.h"

#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>

#ifndef SIGNETRIX_DOWNLOAD_HOST
#define SIGNETRIX_DOWNLOAD_HOST "http://127.0.0.1:8088"
#endif

namespace signetrix::dialogs {

namespace {

constexpr int kFirstYear = 2026;
constexpr int kRowHeight = 15;

// The product logo, drawn rather than shipped: a bookmark ribbon and the name.
QPixmap logo()
{
    QPixmap pixmap(129, 46);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 46);
    fill.setColorAt(0, QColor(40, 96, 176));
    fill.setColorAt(1, QColor(18, 52, 110));
    painter.setBrush(fill);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0, 0, 129, 46), 8, 8);
    QPainterPath ribbon;
    ribbon.moveTo(10, 6);
    ribbon.lineTo(26, 6);
    ribbon.lineTo(26, 40);
    ribbon.lineTo(18, 32);
    ribbon.lineTo(10, 40);
    ribbon.closeSubpath();
    painter.setBrush(QColor(250, 196, 40));
    painter.drawPath(ribbon);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(18);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(32, 0, 95, 46), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Signetrix"));
    return pixmap;
}

QLabel* label(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* result = new QLabel(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(geometry);
    result->setAlignment(Qt::AlignCenter);
    return result;
}

} // namespace

TfrmAbout::TfrmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("A propos"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(337, 487);

    m_frame = new TKelPanel(this);
    m_frame->setObjectName(QStringLiteral("KelPanel1"));
    m_frame->setGeometry(rect());

    auto* image = label(m_frame, "imgLogo", QRect((337 - 129) / 2, 12, 129, 46));
    image->setPixmap(logo());

    m_productName = label(m_frame, "ProductName", QRect(16, 62, 305, 22));
    QFont bold = m_productName->font();
    bold.setPixelSize(16);
    bold.setBold(true);
    m_productName->setFont(bold);
    m_fileVersion = label(m_frame, "Label1", QRect(16, 86, 305, 16));

    m_credits = new TSecretPanel(m_frame);
    m_credits->setObjectName(QStringLiteral("SecretPanel1"));
    m_credits->setGeometry(24, 106, 289, 145);

    m_system = new QTableWidget(0, 2, m_frame);
    m_system->setObjectName(QStringLiteral("vledSystem"));
    m_system->setGeometry(25, 256, 150 + 137, 9 * kRowHeight + 2);
    m_system->setFrameShape(QFrame::NoFrame);
    m_system->horizontalHeader()->hide();
    m_system->verticalHeader()->hide();
    // Nine rows must fit the list without scrolling: a small font and fixed rows.
    QFont small = m_system->font();
    small.setPixelSize(11);
    m_system->setFont(small);
    m_system->verticalHeader()->setMinimumSectionSize(kRowHeight);
    m_system->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_system->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_system->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    m_system->setColumnWidth(0, 150);
    m_system->setColumnWidth(1, 137);
    m_system->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_system->setSelectionMode(QAbstractItemView::NoSelection);
    m_system->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_system->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_system->setFocusPolicy(Qt::NoFocus);

    m_email = label(m_frame, "lEMail", QRect(16, 398, 305, 16));
    m_email->setText(makerEmail());
    m_email->setStyleSheet(QStringLiteral("color: blue;"));
    m_email->setCursor(Qt::PointingHandCursor);
    m_email->installEventFilter(this);

    m_website = label(m_frame, "lWebsite", QRect(16, 416, 305, 16));
    m_website->setText(makerWebsite());
    m_website->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    m_website->setCursor(Qt::PointingHandCursor);
    m_website->installEventFilter(this);

    auto* copyright = label(m_frame, "LabelCopyright", QRect(16, 434, 305, 16));
    copyright->setText(copyrightLine(QDate::currentDate().year()));

    m_ok = new QPushButton(QStringLiteral("OK"), m_frame);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_ok->setGeometry((337 - 75) / 2, 455, 75, 25);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &TfrmAbout::OKButtonClick);

    m_version = new TVersionInfo(this);
    m_version->setObjectName(QStringLiteral("VersionInfo1"));
    m_version->setCtlFileVersion(m_fileVersion);
    m_version->setCtlProductName(m_productName);

    m_refresh = new QTimer(this);
    m_refresh->setObjectName(QStringLiteral("TimerRefresh"));
    m_refresh->setInterval(kAboutRefreshInterval);
    connect(m_refresh, &QTimer::timeout, this, &TfrmAbout::TimerRefreshTimer);
    TimerRefreshTimer();
    m_refresh->start();
}

QString TfrmAbout::makerEmail()
{
    return QStringLiteral("contact@signetrix.example");
}

QString TfrmAbout::makerWebsite()
{
    return QStringLiteral(SIGNETRIX_DOWNLOAD_HOST);
}

QString TfrmAbout::copyrightLine(int currentYear)
{
    if (currentYear <= kFirstYear) return QStringLiteral("Copyright \u00a9 Signetrix %1").arg(currentYear);
    return QStringLiteral("Copyright \u00a9 Signetrix %1-%2").arg(kFirstYear).arg(currentYear);
}

void TfrmAbout::setCredits(const QString& text)
{
    m_credits->setText(text);
}

void TfrmAbout::OKButtonClick()
{
    close();
}

void TfrmAbout::lEMailClick()
{
    platform::shellOpen(QStringLiteral("Mailto:") + m_email->text());
}

void TfrmAbout::lWebsiteClick()
{
    platform::shellOpen(m_website->text());
}

void TfrmAbout::TimerRefreshTimer()
{
    m_system->setRowCount(0);
    for (const platform::SystemRow& row : platform::systemRows(m_files)) {
        const int at = m_system->rowCount();
        m_system->insertRow(at);
        m_system->setItem(at, 0, new QTableWidgetItem(row.key));
        auto* value = new QTableWidgetItem(row.value);
        value->setToolTip(row.value); // long names are cut in the narrow column
        m_system->setItem(at, 1, value);
    }
}

void TfrmAbout::showEvent(QShowEvent* event)
{
    m_credits->start();
    QDialog::showEvent(event);
}

void TfrmAbout::hideEvent(QHideEvent* event)
{
    m_credits->stop();
    QDialog::hideEvent(event);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_email) lEMailClick();
        else if (watched == m_website) lWebsiteClick();
    }
    return QDialog::eventFilter(watched, event);
}

void showAboutBox(QWidget* owner, const QString& credits)
{
    auto* box = new TfrmAbout(owner);
    box->setCredits(credits);
    centreOnScreen(box);
    box->exec(); // deletes the box as it closes
}

} // namespace signetrix::dialogs
