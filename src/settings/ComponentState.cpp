#include "settings/ComponentState.h"

#include "settings/IniStore.h"

#include "platform/Errors.h"

#include <QMetaProperty>
#include <QObject>
#include <QVariant>

namespace signetrix {
namespace {

using Kind = ComponentState::Kind;

struct PropertyName {
    const char* declared;  // the name written in the file
    Kind kind;
    const char* qtNames[2]; // Qt properties that carry it, tried in order
};

const PropertyName kProperties[] = {
    {"ItemIndex", Kind::Integer, {"currentIndex", "ItemIndex"}},
    {"Checked", Kind::Boolean, {"checked", nullptr}},
    {"Text", Kind::Text, {"text", nullptr}},
    {"Tag", Kind::Integer, {"Tag", nullptr}},
    {"Value", Kind::Integer, {"value", nullptr}},
};

const PropertyName* declaredProperty(const QString& name)
{
    for (const PropertyName& p : kProperties)
        if (name.compare(QLatin1String(p.declared), Qt::CaseInsensitive) == 0) return &p;
    return nullptr;
}

// The control's Qt property for the declared one, or empty when it has none.
// Tag is every control's own number: a dynamic property that may not exist yet.
QByteArray qtPropertyOf(const QObject* control, const PropertyName& p)
{
    if (qstrcmp(p.declared, "Tag") == 0) return QByteArrayLiteral("Tag");
    const QMetaObject* meta = control->metaObject();
    for (const char* wanted : p.qtNames) {
        if (!wanted) continue;
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty prop = meta->property(i);
            if (qstricmp(prop.name(), wanted) == 0) return QByteArray(prop.name());
        }
    }
    return {};
}

QObject* findControl(QObject* root, const QString& name)
{
    if (root->objectName() == name) return root;
    if (QObject* exact = root->findChild<QObject*>(name)) return exact;
    // Control names are identifiers of the window and compare without regard to case.
    if (root->objectName().compare(name, Qt::CaseInsensitive) == 0) return root;
    const QList<QObject*> all = root->findChildren<QObject*>();
    for (QObject* o : all)
        if (o->objectName().compare(name, Qt::CaseInsensitive) == 0) return o;
    return nullptr;
}

// The control's current value as the file holds it; empty when it cannot be read.
QString formatValue(const ComponentState::Binding& b)
{
    const QVariant v = b.control->property(b.qtProperty.constData());
    switch (b.kind) {
    case Kind::Integer:
        if (!v.isValid()) return b.qtProperty == "Tag" ? QStringLiteral("0") : QString();
        return QString::number(v.toInt());
    case Kind::Boolean:
        if (!v.isValid()) return {};
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Text:
        return v.toString();
    }
    return {};
}

void applyValue(const ComponentState::Binding& b, const QString& text)
{
    QVariant value;
    switch (b.kind) {
    case Kind::Integer: {
        int number = 0;
        if (!TryStrToInt(text, number)) number = 0;
        value = number;
        break;
    }
    case Kind::Boolean:
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) value = true;
        else if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) value = false;
        else return; // anything else leaves the control as it is
        break;
    case Kind::Text:
        value = text;
        break;
    }
    b.control->setProperty(b.qtProperty.constData(), value);
}

} // namespace

ComponentState::ComponentState(ComponentStateSpec spec, IniStore& store) : m_spec(std::move(spec)), m_store(store) {}

void ComponentState::resolve(QObject* root)
{
    m_bindings.clear();
    if (!root) return;
    for (const SettingKey& row : m_spec.entries) {
        const QString& entry = row.key;
        const qsizetype dot = entry.indexOf('.');
        if (dot < 0) continue;
        const QString component = entry.left(dot).trimmed();
        const QString property = entry.mid(dot + 1).trimmed();
        if (component.isEmpty() || property.isEmpty()) continue;
        const PropertyName* declared = declaredProperty(property);
        if (!declared) continue;
        QObject* control = findControl(root, component);
        if (!control) continue;
        const QByteArray qtName = qtPropertyOf(control, *declared);
        if (qtName.isEmpty()) continue;
        m_bindings.push_back({control, component + '.' + QLatin1String(declared->declared), declared->kind, qtName,
                              row.value, row.isList()});
    }
}

QStringList ComponentState::boundKeys() const
{
    QStringList keys;
    for (const Binding& b : m_bindings) keys << b.key;
    return keys;
}

void ComponentState::restore()
{
    m_saved = false;
    for (const Binding& b : m_bindings) {
        if (!b.control) continue;
        // One control that refuses its value must not keep the others from loading.
        try {
            const QString current = formatValue(b);
            applyValue(b, m_store.readString(m_spec.section, b.key, current));
        } catch (...) {
        }
    }
    m_restored = true;
}

void ComponentState::restoreDefaults(Defaults which)
{
    for (const Binding& b : m_bindings) {
        if (!b.control || (which == Defaults::ListsOnly && !b.list)) continue;
        applyValue(b, b.defaultValue);
    }
}

void ComponentState::save()
{
    if (m_spec.active && !m_restored) return;
    for (const Binding& b : m_bindings) {
        if (!b.control) continue;
        const QString value = formatValue(b);
        if (value.isEmpty() && b.kind != Kind::Text) continue;
        m_store.writeString(m_spec.section, b.key, TrimmedValue(value));
    }
    m_saved = true;
}

} // namespace signetrix
