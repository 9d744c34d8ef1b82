#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QString>
#include <QStringList>

// Small makers for the settings pages: each control gets its name and an accessible name.
namespace zantrel::page {

inline QCheckBox* check(QWidget* parent, const char* name, const QString& text, const QString& tip = {}) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    box->setToolTip(tip);
    return box;
}

inline QComboBox* list(QWidget* parent, const char* name, const QString& caption, const QStringList& items) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setAccessibleName(caption);
    combo->addItems(items);
    return combo;
}

inline QLineEdit* field(QWidget* parent, const char* name, const QString& caption, const QString& tip = {}) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(caption);
    edit->setToolTip(tip);
    return edit;
}

inline QSlider* slider(QWidget* parent, const char* name, const QString& caption, int minimum, int maximum) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QLatin1String(name));
    s->setAccessibleName(caption);
    s->setRange(minimum, maximum);
    s->setSingleStep(1);
    return s;
}

inline QSpinBox* number(QWidget* parent, const char* name, const QString& caption, int minimum, int maximum) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(caption);
    box->setRange(minimum, maximum);
    return box;
}

inline QLabel* label(QWidget* parent, const char* name, const QString& text, bool wrap = false) {
    auto* l = new QLabel(text, parent);
    if (name)
        l->setObjectName(QLatin1String(name));
    l->setWordWrap(wrap);
    return l;
}

} // namespace zantrel::page
