#include "settings/timer_page.h"

#include "core/active_hours.h"
#include "settings/control_rules.h"
#include "settings/page_widgets.h"

#include <QButtonGroup>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

namespace zantrel {

namespace {

// A count whose own text box is the label that shows its value.
QSpinBox* count(QWidget* parent, const char* name, const char* display, const QString& caption) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setAccessibleName(caption);
    spin->setRange(0, 60);
    if (auto* text = spin->findChild<QLineEdit*>())
        text->setObjectName(QLatin1String(display));
    return spin;
}

QDoubleSpinBox* degrees(QWidget* parent, const char* name, const QString& caption, double limit) {
    auto* spin = new QDoubleSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setAccessibleName(caption);
    spin->setDecimals(4);
    spin->setRange(-limit, limit); // a place beyond the poles cannot be typed
    spin->setSuffix(QStringLiteral("°"));
    return spin;
}

} // namespace

TimerPage::TimerPage(QWidget* parent)
    : QWidget(parent), updateType_(new QButtonGroup(this)), fixedDate_(new QDateTimeEdit(this)),
      partI_(count(this, "PartIControl", "PartIDisplay", QStringLiteral("Interval"))),
      unitI_(page::list(this, "PartIUnit", QStringLiteral("Interval unit"), {})),
      colon_(page::label(this, "DoisPontos", QStringLiteral(":"))),
      partII_(count(this, "PartIIControl", "PartIIDisplay", QStringLiteral("Finer interval"))),
      unitII_(page::list(this, "PartIIUnit", QStringLiteral("Finer interval unit"), {})),
      activeFrom_(page::field(this, "ActiveFrom", QStringLiteral("Publish from"))),
      activeTo_(page::field(this, "ActiveTo", QStringLiteral("Publish until"))),
      sun_(page::check(this, "SunHours", QStringLiteral("Only from sunrise to sunset at"))),
      latitude_(degrees(this, "Latitude", QStringLiteral("Latitude"), 90)),
      longitude_(degrees(this, "Longitude", QStringLiteral("Longitude"), 180)),
      sunOffset_(page::number(this, "SunOffset", QStringLiteral("Minutes before sunrise and after sunset"),
                              -240, 240)),
      refusal_(page::label(this, "ActiveHoursRefusal", {}, true)) {
    updateType_->setObjectName(QStringLiteral("UpdateType"));
    const QString captions[] = {QStringLiteral("Fixed Date and Time:"), QStringLiteral("Every:")};
    for (int i = 0; i < 2; ++i) {
        auto* option = new QRadioButton(captions[i], this);
        option->setObjectName(QStringLiteral("UpdateType"));
        updateType_->addButton(option, i);
    }
    fixedDate_->setObjectName(QStringLiteral("FixedDate"));
    fixedDate_->setAccessibleName(QStringLiteral("Fixed Date and Time"));
    fixedDate_->setDisplayFormat(QLatin1String(kFixedDatePattern));
    fixedDate_->setCalendarPopup(true);
    unitI_->addItems(IntervalUnits());
    unitI_->setCurrentIndex(-1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(updateType_->button(0), 0, 0, 1, 5);
    grid->addWidget(fixedDate_, 1, 0, 1, 5);
    grid->addWidget(updateType_->button(1), 2, 0, 1, 5);
    grid->addWidget(partI_, 3, 0);
    grid->addWidget(unitI_, 3, 1);
    grid->addWidget(colon_, 3, 2);
    grid->addWidget(partII_, 3, 3);
    grid->addWidget(unitII_, 3, 4);
    grid->addWidget(
        page::label(this, "Label14",
                    QStringLiteral("If you want to capture a single image on a fixed date and time "
                                   "select the first option, but if you want to broadcast a live "
                                   "image every time interval  you must select the other option "
                                   "and adjust the interval to refresh image."),
                    true),
        4, 0, 1, 5);
    for (QLineEdit* edit : {activeFrom_, activeTo_}) {
        edit->setPlaceholderText(QStringLiteral("HH:MM"));
        edit->setMaxLength(5);
    }
    sunOffset_->setSuffix(QStringLiteral(" min"));
    latitude_->setPrefix(QStringLiteral("lat. ")); // north and east count positive
    longitude_->setPrefix(QStringLiteral("lon. "));
    refusal_->hide();
    auto* hours = new QHBoxLayout;
    hours->addWidget(page::label(this, nullptr, QStringLiteral("Publish only from")));
    hours->addWidget(activeFrom_);
    hours->addWidget(page::label(this, nullptr, QStringLiteral("to")));
    hours->addWidget(activeTo_);
    hours->addStretch();
    grid->addLayout(hours, 5, 0, 1, 5);
    auto* sun = new QHBoxLayout;
    sun->addWidget(sun_);
    sun->addWidget(latitude_);
    sun->addWidget(longitude_);
    sun->addWidget(page::label(this, nullptr, QStringLiteral("widened by")));
    sun->addWidget(sunOffset_);
    grid->addLayout(sun, 6, 0, 1, 5);
    grid->addWidget(refusal_, 7, 0, 1, 5);
    grid->setRowStretch(8, 1);

    connect(unitI_, &QComboBox::currentIndexChanged, this, &TimerPage::mainUnitChanged);
    connect(unitII_, &QComboBox::currentIndexChanged, this, &TimerPage::secondUnitChanged);
    connect(partI_, &QSpinBox::valueChanged, this, &TimerPage::countChanged);
}

void TimerPage::load(const TimerValues& v) {
    loading_ = true;
    if (QAbstractButton* option = updateType_->button(v.updateType))
        option->setChecked(true);
    partI_->setValue(v.partI);
    unitI_->setCurrentIndex(v.unitI); // the unit handler fills the second units and sets the maxima
    if (unitI_->currentIndex() < 3)
        unitII_->setCurrentIndex(v.unitII);
    partII_->setValue(v.partII);
    fixedDate_->setDateTime(v.fixedDate);
    activeFrom_->setText(v.activeFrom);
    activeTo_->setText(v.activeTo);
    sun_->setChecked(v.sun);
    latitude_->setValue(v.latitude);
    longitude_->setValue(v.longitude);
    sunOffset_->setValue(v.sunOffset);
    refusal_->hide();
    loading_ = false;
}

TimerValues TimerPage::values() const {
    TimerValues v;
    v.updateType = updateType_->checkedId() == 0 ? 0 : 1;
    v.fixedDate = fixedDate_->dateTime();
    v.partI = partI_->value();
    v.unitI = unitI_->currentIndex();
    v.partII = partII_->value();
    v.unitII = unitII_->currentIndex();
    v.activeFrom = activeFrom_->text();
    v.activeTo = activeTo_->text();
    v.sun = sun_->isChecked();
    v.latitude = latitude_->value();
    v.longitude = longitude_->value();
    v.sunOffset = sunOffset_->value();
    return v;
}

QString TimerPage::refusal() {
    // The place and offset are held within their ranges by their boxes; the times are typed.
    const QString why =
        sun_->isChecked() ? QString() : ActiveHours::CheckBetween(activeFrom_->text(), activeTo_->text());
    refusal_->setText(why);
    refusal_->setVisible(!why.isEmpty());
    return why;
}

void TimerPage::mainUnitChanged(int unit) {
    unitII_->clear();
    const QStringList smaller = SecondUnits(unit);
    unitII_->addItems(smaller);
    for (QWidget* w :
         {static_cast<QWidget*>(unitII_), static_cast<QWidget*>(partII_), static_cast<QWidget*>(colon_)})
        w->setHidden(smaller.isEmpty());
    if (!smaller.isEmpty())
        unitII_->setCurrentIndex(0);
    partI_->setMaximum(MainUnitMaximum(unit));
}

void TimerPage::secondUnitChanged() {
    partII_->setMaximum(SecondUnitMaximum(unitII_->currentText()));
}

void TimerPage::countChanged(int value) {
    // Counting down past 1 moves to the next smaller unit at its largest count: 0 days are 24 hours.
    if (value != 0 || loading_)
        return;
    if (unitI_->currentIndex() + 1 < unitI_->count())
        unitI_->setCurrentIndex(unitI_->currentIndex() + 1);
    partI_->setValue(partI_->maximum());
}

} // namespace zantrel
