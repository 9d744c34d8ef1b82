#include "capture/source_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace zantrel {

SourceDialog::SourceDialog(const std::vector<SourceControl>& controls, Apply apply, QWidget* parent)
    : QDialog(parent), apply_(std::move(apply)) {
    setObjectName(QStringLiteral("VideoSourceDialog"));
    setWindowTitle(QStringLiteral("Video Source"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (const SourceControl& control : controls) {
        auto* row = new QHBoxLayout;
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(control.name);
        slider->setRange(control.minimum, control.maximum);
        slider->setValue(control.value);
        slider->setMinimumWidth(200);
        auto* value = new QLabel(QString::number(control.value), this);
        value->setMinimumWidth(50);
        row->addWidget(slider);
        row->addWidget(value);
        form->addRow(control.name, row);
        connect(slider, &QSlider::valueChanged, this, [this, name = control.name, value](int v) {
            value->setText(QString::number(v));
            apply_(name, v);
        });
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
}

QSlider* SourceDialog::slider(const QString& name) const {
    return findChild<QSlider*>(name);
}

} // namespace zantrel
