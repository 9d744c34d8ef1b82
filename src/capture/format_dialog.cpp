#include "capture/format_dialog.h"

#include "core/version.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace zantrel {

FormatDialog::FormatDialog(std::vector<VideoFormat> formats, const QString& currentCaps, Apply apply,
                           QWidget* parent)
    : QDialog(parent), formats_(std::move(formats)), apply_(std::move(apply)) {
    setObjectName(QStringLiteral("VideoFormatDialog"));
    setWindowTitle(QStringLiteral("Video Format"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    for (std::size_t i = 0; i < formats_.size(); ++i) {
        list_->addItem(formats_[i].label());
        if (formats_[i].capsText() == currentCaps)
            current_ = int(i);
    }
    list_->setCurrentRow(current_);
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    connect(list_, &QListWidget::currentRowChanged, this, &FormatDialog::choose);
    resize(360, 320);
}

void FormatDialog::choose(int row) {
    if (row < 0 || row >= int(formats_.size()) || row == current_)
        return;
    if (apply_(formats_[std::size_t(row)])) {
        current_ = row;
        return;
    }
    const QSignalBlocker blocker(list_);
    list_->setCurrentRow(current_);
}

} // namespace zantrel
