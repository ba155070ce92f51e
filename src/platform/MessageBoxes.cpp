#include "platform/MessageBoxes.h"

#include <atomic>
#include <cstdio>

namespace signetrix::platform {
namespace {

class StderrMessageBoxes : public MessageBoxService {
public:
    MessageAnswer show(MessageKind, const QString& title, const QString& text, MessageButtons buttons) override
    {
        std::fprintf(stderr, "[%s] %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        switch (buttons) {
        case MessageButtons::YesNo: return MessageAnswer::No;
        case MessageButtons::OkCancel: return MessageAnswer::Cancel;
        case MessageButtons::Ok: break;
        }
        return MessageAnswer::Ok;
    }
};

StderrMessageBoxes g_fallback;
std::atomic<MessageBoxService*> g_service{nullptr};

} // namespace

MessageBoxService& messageBoxes()
{
    MessageBoxService* s = g_service.load();
    return s ? *s : g_fallback;
}

MessageBoxService* setMessageBoxService(MessageBoxService* service) { return g_service.exchange(service); }

QString applicationTitle() { return QStringLiteral("Signetrix"); }

MessageAnswer showMessage(const QString& text, MessageKind kind, MessageButtons buttons)
{
    return messageBoxes().show(kind, applicationTitle(), text, buttons);
}

bool confirm(const QString& text)
{
    return showMessage(text, MessageKind::Confirmation, MessageButtons::YesNo) == MessageAnswer::Yes;
}

} // namespace signetrix::platform
