#pragma once
// Every modal message box of the program goes through this one service. The
// window installs an implementation on real dialogs; tests install one that
// records each box and answers from a script, so no test waits on a dialog.
#include <QString>

namespace signetrix::platform {

enum class MessageKind { Information, Warning, Error, Confirmation };
enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual MessageAnswer show(MessageKind kind, const QString& title, const QString& text,
                               MessageButtons buttons) = 0;
};

// The installed service; without one, boxes go to standard error and are
// answered "Ok" / "No" (the answer that changes nothing).
MessageBoxService& messageBoxes();
// Installs a service (not owned); nullptr restores the fallback. Returns the previous one.
MessageBoxService* setMessageBoxService(MessageBoxService* service);

// The application's title, used as the caption of every box.
QString applicationTitle();

MessageAnswer showMessage(const QString& text, MessageKind kind = MessageKind::Information,
                          MessageButtons buttons = MessageButtons::Ok);
bool confirm(const QString& text); // Yes / No box, true for Yes

} // namespace signetrix::platform
