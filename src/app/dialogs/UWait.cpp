#include "app/dialogs/UWait.h"

#include "app/dialogs/Placement.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace signetrix::dialogs {

namespace {

QProgressBar* percentBar(QWidget* parent, const char* name, int top)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setGeometry(12, top, 351, 16);
    bar->setRange(0, 100);
    bar->setTextVisible(true);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setAlignment(Qt::AlignCenter);
    return bar;
}

QLabel* barLabel(QWidget* parent, const char* name, const QString& text, int top)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(12, top, 351, 15);
    return label;
}

} // namespace

TfrmWait::TfrmWait(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("frmWait"));
    setWindowTitle(QStringLiteral("Traitement"));
    setFixedSize(375, 130);

    m_dataLabel = barLabel(this, "lData", QStringLiteral("Page(s) de données"), 6);
    m_data = percentBar(this, "OvcMeterData", 22);
    m_deleteLabel = barLabel(this, "lDelete", QStringLiteral("Suppression(s)"), 45);
    m_delete = percentBar(this, "OvcMeterDelete", 61);
    m_transferLabel = barLabel(this, "lTransfert", QStringLiteral("Transfert"), 84);
    m_transfer = percentBar(this, "OvcMeterUpload", 100);

    m_steps = new QProgressBar(this);
    m_steps->setObjectName(QStringLiteral("ProgressBar1"));
    m_steps->setRange(0, 100);
    m_steps->setValue(0);
    m_steps->hide();

    m_cancel = new QPushButton(QStringLiteral("Annuler"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->hide();
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate();
    centreOnScreen(this);
}

void TfrmWait::FormCreate()
{
    setBar(m_data, 0);
    setBar(m_delete, 0);
    setBar(m_transfer, 0);
}

void TfrmWait::setBar(QProgressBar* bar, int percent)
{
    bar->setValue(std::clamp(percent, 0, 100));
    if (bar->isVisible()) bar->repaint();
}

void TfrmWait::ConnectProgress()
{
    setBar(m_data, 0);
    setBar(m_transfer, 0);
    show();
    raise();
    activateWindow();
}

void TfrmWait::CloseProgress()
{
    setBar(m_data, 100);
    close();
}

void TfrmWait::PourcentProgressData(int percent)
{
    setBar(m_data, percent);
}

void TfrmWait::PourcentProgressTransfert(int percent)
{
    setBar(m_transfer, percent);
}

void TfrmWait::IncProgress()
{
    m_steps->setValue(std::min(m_steps->value() + 1, m_steps->maximum()));
}

void TfrmWait::DecProgress()
{
    m_steps->setValue(std::max(m_steps->value() - 1, m_steps->minimum()));
}

void TfrmWait::CaptionData(const QString& text)
{
    m_dataLabel->setText(text);
    if (m_dataLabel->isVisible()) m_dataLabel->repaint();
}

void TfrmWait::CaptionTransfert(const QString& text)
{
    m_transferLabel->setText(text);
    if (m_transferLabel->isVisible()) m_transferLabel->repaint();
}

} // namespace signetrix::dialogs
