#include "app/ErrorDisplay.h"

#include "platform/Errors.h"
#include "platform/MessageBoxes.h"

namespace signetrix {

QString errorDisplayText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
    return message;
}

void showError(const QString& message)
{
    platform::showMessage(errorDisplayText(message), platform::MessageKind::Error, platform::MessageButtons::Ok);
}

void showCurrentException() noexcept
{
    try {
        try {
            throw;
        } catch (const Error& e) {
            showError(e.message());
        } catch (const std::exception& e) {
            showError(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            showError(QStringLiteral("Erreur inconnue"));
        }
    } catch (...) {
        // Showing the box failed too; there is no one left to tell.
    }
}

} // namespace signetrix
