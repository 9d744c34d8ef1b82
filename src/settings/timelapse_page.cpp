#include "settings/timelapse_page.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "settings/page_widgets.h"
#include "timelapse/daily_timelapse.h"

#include <QFormLayout>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace zantrel {

TimelapsePage::TimelapsePage(QWidget* parent)
    : QWidget(parent),
      daily_(page::check(this, "TimelapseDaily", QStringLiteral("Make a time-lapse video of each day"),
                         QStringLiteral("Written into the archive folder as DDMMYYYY.mp4"))),
      at_(new QTimeEdit(this)),
      fps_(page::number(this, "TimelapseFps", QStringLiteral("Frames per second:"), 1, 240)),
      width_(page::number(this, "TimelapseWidth", QStringLiteral("Largest width:"), 16, 7680)),
      upload_(page::check(this, "TimelapseUpload", QStringLiteral("Upload the video to the FTP Servers"))),
      name_(page::field(this, "TimelapseName", QStringLiteral("Remote name:"))) {
    at_->setObjectName(QStringLiteral("TimelapseAt"));
    at_->setAccessibleName(QStringLiteral("Made at:"));
    at_->setDisplayFormat(QStringLiteral("HH:mm"));
    width_->setSingleStep(2);
    width_->setSuffix(QStringLiteral(" px"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Made at:"), at_);
    form->addRow(QStringLiteral("Frames per second:"), fps_);
    form->addRow(QStringLiteral("Largest width:"), width_);
    auto* uploadForm = new QFormLayout;
    uploadForm->addRow(QStringLiteral("Remote name:"), name_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(daily_);
    layout->addLayout(form);
    layout->addWidget(upload_);
    layout->addLayout(uploadForm);
    layout->addWidget(page::label(this, nullptr,
                                  QStringLiteral("The video of the day before is made at the time given; "
                                                 "pictures are never enlarged.")));
    layout->addStretch();
    load();
}

void TimelapsePage::load() {
    daily_->setChecked(ReadFlag(keys::TimelapseDaily));
    at_->setTime(DailyTimelapseTime(GetSetting(keys::TimelapseAt)));
    fps_->setValue(ReadInt32(keys::TimelapseFps));
    width_->setValue(ReadInt32(keys::TimelapseWidth));
    upload_->setChecked(ReadFlag(keys::TimelapseUpload));
    name_->setText(GetSetting(keys::TimelapseName));
}

void TimelapsePage::store() const {
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    SaveSetting(keys::TimelapseDaily, flag(daily_->isChecked()));
    SaveSetting(keys::TimelapseAt, at_->time().toString(QStringLiteral("HH:mm")));
    SaveSetting(keys::TimelapseFps, QString::number(fps_->value()));
    SaveSetting(keys::TimelapseWidth, QString::number(width_->value()));
    SaveSetting(keys::TimelapseUpload, flag(upload_->isChecked()));
    const QString name = name_->text().trimmed();
    SaveSetting(keys::TimelapseName, name.isEmpty() ? QLatin1String(keys::TimelapseName.fallback) : name);
}

} // namespace zantrel
