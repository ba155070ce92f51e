#pragma once
// Error types raised by the logic units. The window catches them at the edge of
// each handler and shows message() in a message box.
#include <QString>
#include <stdexcept>

namespace signetrix {

class Error : public std::runtime_error {
public:
    explicit Error(const QString& message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A text that should have been a whole number ("'%s' is not a valid integer value").
class ConvertError : public Error {
public:
    explicit ConvertError(const QString& text);
};

// A write the operating system refused ("Unable to write to %s").
class WriteError : public Error {
public:
    explicit WriteError(const QString& path);
};

// Whole-number conversion with the rules users know from the settings: blanks
// before the number, an optional sign, decimal digits or a hexadecimal "$"/"0x"
// form, 32-bit range. Anything else throws ConvertError naming the text.
int StrToInt(const QString& text);
bool TryStrToInt(const QString& text, int& value);

} // namespace signetrix
