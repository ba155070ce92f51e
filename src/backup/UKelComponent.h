#pragma once
// The common base of the connection and synchronisation components: a plain
// owned object with nothing of its own. The owner (the QObject parent) frees
// it; without an owner the creator must.
#include <QObject>

namespace signetrix::backup {

class TKelComponent : public QObject {
    Q_OBJECT
public:
    explicit TKelComponent(QObject* owner = nullptr);
};

} // namespace signetrix::backup
