#include "app/widgets/EditBox.h"

#include <QApplication>
#include <QColor>
#include <QLineEdit>
#include <QPalette>

void SetEditEditable(QLineEdit* edit, bool editable)
{
    const QPalette system = QApplication::palette();
    QPalette p = edit->palette();
    if (editable) {
        edit->setReadOnly(false);
        p.setColor(QPalette::Base, system.color(QPalette::Base));
        p.setColor(QPalette::Text, system.color(QPalette::Text));
    } else {
        edit->setReadOnly(true);
        p.setColor(QPalette::Base, QColor(160, 160, 164));
        p.setColor(QPalette::Text, system.color(QPalette::Base));
    }
    edit->setPalette(p);
}
