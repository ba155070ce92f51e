#pragma once
// The message-box service of the running program: real modal Qt message boxes,
// installed by main() for the program's lifetime.
#include "platform/MessageBoxes.h"

namespace signetrix {

class QtMessageBoxes : public platform::MessageBoxService {
public:
    platform::MessageAnswer show(platform::MessageKind kind, const QString& title, const QString& text,
                                 platform::MessageButtons buttons) override;
};

} // namespace signetrix
