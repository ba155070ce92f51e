#pragma once
// The password cipher: a byte stream cipher with a 128-bit key whose keystream
// depends on every plaintext byte already processed. Ciphertext is written as
// letters "a" to "p", two per byte, high half first.
//
// Texts and keys are 8-bit strings that end at their first zero byte. A key of
// more than 16 characters is refused with a message box and gives an empty
// result; an empty text or key gives an empty result silently. A wrong key
// gives a wrong plaintext: there is no check value.
#include <QByteArray>

namespace signetrix {

QByteArray EncipherString(const QByteArray& text, const QByteArray& key);
// Letters are taken in pairs; a last unpaired letter is ignored. A text holding
// anything but "a" to "p" is not a ciphertext and gives an empty result.
QByteArray DecipherString(const QByteArray& text, const QByteArray& key);

// The key of the backup server's stored connection values and of the working
// key's stored form (15 characters).
QByteArray StoredKeyText();
// The key of the users' passwords, deciphered from its stored form at every
// call; callers must not keep it.
QByteArray WorkingKey();

} // namespace signetrix
