#pragma once
// Settings that have no control on screen but are stored like the controls'
// values: an object with the window's name for the setting and the property
// the settings file binds ("text" or "checked").
#include <QObject>
#include <QString>

namespace signetrix {

class StoredText : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    StoredText(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }

private:
    QString m_text;
};

class StoredFlag : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool checked READ isChecked WRITE setChecked)

public:
    StoredFlag(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
    bool isChecked() const { return m_checked; }
    void setChecked(bool checked) { m_checked = checked; }

private:
    bool m_checked = false;
};

} // namespace signetrix
