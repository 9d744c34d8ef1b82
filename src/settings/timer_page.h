#pragma once

#include "settings/settings_form.h"

#include <QWidget>

class QButtonGroup;
class QComboBox;
class QDateTimeEdit;
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
    bool loading_ = false;
};

} // namespace zantrel
