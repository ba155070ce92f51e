#pragma once
// The progress dialog "Traitement" offered to long transfers: three percentage
// bars (data pages, deletions, transfer) with their labels, a hidden step
// counter and a hidden cancel button. Every operation shows its effect at once.
// The caller creates and owns it; ConnectProgress shows it (not modal) and
// CloseProgress closes it.
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace signetrix::dialogs {

class TfrmWait : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWait(QWidget* owner = nullptr);

    void ConnectProgress();                 // data and transfer to 0 %, show, bring to front
    void CloseProgress();                   // data to 100 %, close
    void PourcentProgressData(int percent); // clamped to 0..100
    void PourcentProgressTransfert(int percent);
    void IncProgress();                     // hidden step counter one up
    void DecProgress();                     // one down
    Q_INVOKABLE void CaptionData(const QString& text);
    Q_INVOKABLE void CaptionTransfert(const QString& text);

private:
    void FormCreate();
    void setBar(QProgressBar* bar, int percent);

    QLabel* m_dataLabel;
    QLabel* m_deleteLabel;
    QLabel* m_transferLabel;
    QProgressBar* m_data;
    QProgressBar* m_delete;
    QProgressBar* m_transfer;
    QProgressBar* m_steps;
    QPushButton* m_cancel;
};

} // namespace signetrix::dialogs
