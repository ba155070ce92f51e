#include "backup/UKelComponent.h"

namespace signetrix::backup {

TKelComponent::TKelComponent(QObject* owner) : QObject(owner) {}

} // namespace signetrix::backup
