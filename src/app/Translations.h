#pragma once
// Qt's own texts (standard buttons, the dialogs Qt draws) in French, the
// language of the whole window, from the system's Qt translations.
class QTranslator;

namespace signetrix {

// Installs Qt's French translations into the running application. Returns the
// translator (owned by the application), or nullptr when the system has no
// translation file; Qt's English texts then stay.
QTranslator* installQtTranslations();

} // namespace signetrix
