#pragma once

#include <QDateTime>
#include <QLabel>
#include <QStringList>

namespace zantrel {

struct PublishOutcome;

// How a job went, in a few words: "Published 18:32:11 to 2 of 3 servers".
QString JobSummaryText(const PublishOutcome& outcome, const QDateTime& at);

// What the main window's status line shows. During a job, the job's own words. Between jobs, the
// publishing state it was last told (the next update, "Ready"), unless something more pressing: for a
// few seconds after a job how it went, then, while a condition is under way, its reason. A message said
// between jobs that is not the state shows as it is. Plain state for the UI thread.
class StatusLineText {
  public:
    static constexpr qint64 kSummaryMs = 8000;

    // isState: the text is the publishing state between jobs, which a summary or a reason may replace.
    void said(const QString& text, bool isState);
    void jobEnded(const QString& summary, const QDateTime& at);
    void setReasons(const QStringList& reasons) { reasons_ = reasons; }
    QString shown(const QDateTime& now, bool jobRunning) const;

  private:
    QString said_;
    bool saidState_ = false;
    QString summary_;
    QDateTime summaryAt_;
    QStringList reasons_;
};

// A one-line label that keeps the end of a text too wide for it (the countdown, the reason) and drops
// its start; the whole text stays its text, its accessible text and, when cut, its tip.
class StatusLabel final : public QLabel {
  public:
    using QLabel::QLabel;
    QString shownText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};

} // namespace zantrel
