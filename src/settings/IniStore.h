#pragma once
// The settings file "Signetrix.ini" next to the executable, read and written
// one key at a time. Nothing is cached: every call opens the file, so edits
// made by hand between two calls are seen and kept.
//
// Texts go to the file in the program's 8-bit code page. Reads are cut to
// 2047 characters. A write the system refuses throws WriteError naming the
// file's full path; the file then keeps what it held before that key.
#include <QString>

namespace signetrix {

// Removes leading and trailing blanks and control characters, as every stored
// value is trimmed before it is written and after it is read.
QString TrimmedValue(const QString& text);

class IniStore {
public:
    // The store on "Signetrix.ini" in the executable's folder, looked up at
    // every call so the file follows the executable.
    IniStore();
    // The store on an explicit file (full path).
    explicit IniStore(QString filePath);

    QString fileName() const; // full path of the file in use

    // The value of [section] key, trimmed; def when the file, the section or
    // the key is missing.
    QString readString(const QString& section, const QString& key, const QString& def) const;
    // Sets [section] key=value; throws WriteError when the file cannot be written.
    void writeString(const QString& section, const QString& key, const QString& value);

    static constexpr int MaxValueChars = 2047;

private:
    QString m_filePath; // empty: next to the executable
};

} // namespace signetrix
