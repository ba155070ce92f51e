#include "app/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace signetrix {

platform::MessageAnswer QtMessageBoxes::show(platform::MessageKind kind, const QString& title, const QString& text,
                                             platform::MessageButtons buttons)
{
    using platform::MessageAnswer;
    using platform::MessageButtons;
    using platform::MessageKind;

    QMessageBox::Icon icon = QMessageBox::Information;
    switch (kind) {
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
    case MessageKind::Confirmation: icon = QMessageBox::Question; break;
    }
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    if (buttons == MessageButtons::YesNo) standard = QMessageBox::Yes | QMessageBox::No;
    if (buttons == MessageButtons::OkCancel) standard = QMessageBox::Ok | QMessageBox::Cancel;

    QMessageBox box(icon, title, text, standard, QApplication::activeWindow());
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    default: break;
    }
    // Closing a Yes/No box with Escape or its close button means No.
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

} // namespace signetrix
