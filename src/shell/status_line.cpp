#include "shell/status_line.h"

#include "publish/publish_job.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace zantrel {

namespace {

QString servers(int n) {
    return n == 1 ? QStringLiteral("1 server") : QStringLiteral("%1 servers").arg(n);
}

} // namespace

QString JobSummaryText(const PublishOutcome& outcome, const QDateTime& at) {
    const QString time = at.toString(QStringLiteral("HH:mm:ss"));
    const QString what = outcome.cameraLostSince.isValid() ? QStringLiteral("the test card ") : QString();
    if (outcome.serversTried == 0)
        return outcome.workingFileWritten
                   ? QStringLiteral("Saved %1%2").arg(what, time)
                   : QStringLiteral("Not saved %1: the picture could not be written").arg(time);
    if (outcome.serversUploaded == 0)
        return QStringLiteral("Not published %1: %2")
            .arg(time, outcome.serversTried == 1
                           ? QStringLiteral("the server failed")
                           : QStringLiteral("all %1 failed").arg(servers(outcome.serversTried)));
    return QStringLiteral("Published %1%2 to %3 of %4")
        .arg(what, time)
        .arg(outcome.serversUploaded)
        .arg(servers(outcome.serversTried));
}

void StatusLineText::said(const QString& text, bool isState) {
    said_ = text;
    saidState_ = isState;
}

void StatusLineText::jobEnded(const QString& summary, const QDateTime& at) {
    summary_ = summary;
    summaryAt_ = at;
}

QString StatusLineText::shown(const QDateTime& now, bool jobRunning) const {
    if (jobRunning || !saidState_)
        return said_;
    if (summaryAt_.isValid()) {
        const qint64 age = summaryAt_.msecsTo(now);
        if (age >= 0 && age < kSummaryMs)
            return summary_;
    }
    if (reasons_.size() == 1)
        return reasons_.first();
    if (reasons_.size() > 1)
        return QStringLiteral("%1 (and %2 more)").arg(reasons_.first()).arg(reasons_.size() - 1);
    return said_;
}

QString StatusLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideLeft, contentsRect().width());
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    p.drawText(contentsRect(), int(alignment()), shownText());
}

bool StatusLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // Only a cut text has a tip: the rest of it.
        if (shownText() != text())
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

} // namespace zantrel
