#pragma once

#include "settings/settings_form.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLineEdit;
class QLabel;
class QSpinBox;

namespace zantrel {

// The "Timer" page: a fixed date and time, or an interval of a count in one unit refined by a count in
// a smaller unit. The units constrain each other and the counts.
class TimerPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* kFixedDatePattern = "dd - MMMM - yyyy  ->  hh:mm:ss dddd";

    explicit TimerPage(QWidget* parent = nullptr);

    void load(const TimerValues& values);
    TimerValues values() const;
    // Why the active hours cannot be stored (also shown on the page); empty when they can.
    QString refusal();
    // The page stack asks every page for its height at a width, shown or not: out of sight this page
    // claims none, so its rows do not stretch the other pages.
    int heightForWidth(int width) const override { return isHidden() ? -1 : QWidget::heightForWidth(width); }

  private:
    void mainUnitChanged(int unit);
    void secondUnitChanged();
    void countChanged(int value);

    QButtonGroup* updateType_;
    QDateTimeEdit* fixedDate_;
    QSpinBox* partI_;
    QComboBox* unitI_;
    QLabel* colon_;
    QSpinBox* partII_;
    QComboBox* unitII_;
    QLineEdit* activeFrom_;
    QLineEdit* activeTo_;
    QCheckBox* sun_;
    QDoubleSpinBox* latitude_;
    QDoubleSpinBox* longitude_;
    QSpinBox* sunOffset_;
    QLabel* refusal_;
    bool loading_ = false;
};

} // namespace zantrel
