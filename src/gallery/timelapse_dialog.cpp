#include "gallery/timelapse_dialog.h"

#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "imaging/picture_file.h"
#include "timelapse/timelapse_job.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zantrel {

namespace {

constexpr int kShown = 0; // source_: the pictures the gallery shows; 1: the archive's days
constexpr int kLargestWidth = 7680;

template <typename W> W* named(W* widget, const char* name, const QString& caption) {
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(caption);
    return widget;
}

// "1 picture", "143 pictures".
QString counted(int n, const QString& one, const QString& many) {
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString clockText(int seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TimelapseDialog::TimelapseDialog(QStringList shown, QString folder, QWidget* parent)
    : QDialog(parent), shown_(std::move(shown)), folder_(std::move(folder)), job_(new TimelapseJob(this)),
      source_(named(new QComboBox(this), "TimelapseSource", QStringLiteral("Pictures:"))),
      from_(named(new QDateEdit(this), "TimelapseFrom", QStringLiteral("From:"))),
      to_(named(new QDateEdit(this), "TimelapseTo", QStringLiteral("To:"))),
      fps_(named(new QSpinBox(this), "TimelapseFps", QStringLiteral("Frames per second:"))),
      width_(named(new QSpinBox(this), "TimelapseWidth", QStringLiteral("Largest width:"))),
      output_(named(new QLineEdit(this), "TimelapseOutput", QStringLiteral("Video file:"))),
      browse_(named(new QPushButton(QStringLiteral("Browse..."), this), "TimelapseBrowse",
                    QStringLiteral("Browse..."))),
      progress_(named(new QProgressBar(this), "TimelapseProgress", QStringLiteral("Progress"))),
      state_(named(new QLabel(this), "TimelapseState", QStringLiteral("State"))),
      make_(named(new QPushButton(QStringLiteral("Make"), this), "TimelapseMake", QStringLiteral("Make"))),
      cancel_(named(new QPushButton(QStringLiteral("Cancel"), this), "TimelapseCancel",
                    QStringLiteral("Cancel"))) {
    setObjectName(QStringLiteral("TimelapseDialog"));
    setWindowTitle(QStringLiteral("Make time-lapse"));
    source_->addItems({shown_.size() == 1 ? QStringLiteral("The picture shown")
                                          : QStringLiteral("The %1 pictures shown").arg(shown_.size()),
                       QStringLiteral("Days")});
    const QDate yesterday = clock().now().date().addDays(-1);
    for (QDateEdit* day : {from_, to_}) {
        day->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        day->setCalendarPopup(true);
        day->setDate(yesterday);
    }
    fps_->setRange(1, 240);
    fps_->setValue(ReadInt32(keys::TimelapseFps));
    // Never wider than the pictures: the first one shown tells their width, from its header, when it
    // is one the video could use.
    std::optional<PictureSize> pictureSize;
    if (!shown_.isEmpty())
        pictureSize = OwnPictureFileSize(shown_.first());
    if (pictureSize && !PictureBoundRefusal(*pictureSize, {}).isEmpty())
        pictureSize.reset();
    width_->setRange(16, pictureSize ? std::max(16, pictureSize->width) : kLargestWidth);
    width_->setSingleStep(2);
    width_->setSuffix(QStringLiteral(" px"));
    width_->setValue(ReadInt32(keys::TimelapseWidth));
    // No count until a video is made: the bar's own range says nothing.
    progress_->setTextVisible(false);
    progress_->setValue(0);

    auto* days = new QHBoxLayout;
    days->addWidget(from_);
    days->addWidget(new QLabel(QStringLiteral("to"), this));
    days->addWidget(to_);
    auto* file = new QHBoxLayout;
    file->addWidget(output_, 1);
    file->addWidget(browse_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Pictures:"), source_);
    form->addRow(QStringLiteral("Days:"), days);
    form->addRow(QStringLiteral("Frames per second:"), fps_);
    form->addRow(QStringLiteral("Largest width:"), width_);
    form->addRow(QStringLiteral("Video file:"), file);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(make_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(progress_);
    layout->addWidget(state_);
    layout->addLayout(buttons);
    make_->setDefault(true);

    connect(source_, &QComboBox::currentIndexChanged, this, &TimelapseDialog::sourceChanged);
    connect(from_, &QDateEdit::dateChanged, this, &TimelapseDialog::sourceChanged);
    connect(to_, &QDateEdit::dateChanged, this, &TimelapseDialog::sourceChanged);
    connect(browse_, &QPushButton::clicked, this, &TimelapseDialog::browse);
    connect(make_, &QPushButton::clicked, this, &TimelapseDialog::start);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (job_->running())
            job_->cancel();
        else
            close();
    });
    connect(job_, &TimelapseJob::progress, this, &TimelapseDialog::showProgress);
    connect(job_, &TimelapseJob::finished, this, &TimelapseDialog::showResult);
    if (shown_.isEmpty())
        source_->setCurrentIndex(1);
    sourceChanged();
}

TimelapseDialog::~TimelapseDialog() = default;

TimelapseDialog* TimelapseDialog::open(QStringList shown, QString folder, QWidget* parent) {
    auto* dialog = new TimelapseDialog(std::move(shown), std::move(folder), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

void TimelapseDialog::sourceChanged() {
    const bool days = source_->currentIndex() != kShown;
    setRunning(job_->running());
    const QString dayFormat = QStringLiteral("ddMMyyyy");
    QString name = QStringLiteral("timelapse");
    if (days) {
        name = from_->date().toString(dayFormat);
        if (to_->date() != from_->date())
            name += QLatin1Char('-') + to_->date().toString(dayFormat);
    }
    output_->setText(QDir(folder_).filePath(name + QStringLiteral(".mp4")));
}

void TimelapseDialog::browse() {
    auto* chooser = new QFileDialog(this, QStringLiteral("Save time-lapse"), output_->text(),
                                    QStringLiteral("MP4 video (*.mp4)"));
    chooser->setAcceptMode(QFileDialog::AcceptSave);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser, &QFileDialog::fileSelected, output_, &QLineEdit::setText);
    chooser->open();
}

void TimelapseDialog::start() {
    TimelapseRequest request;
    request.output = output_->text().trimmed();
    request.fps = fps_->value();
    request.maxWidth = width_->value();
    if (request.output.isEmpty()) {
        state_->setText(QStringLiteral("Please choose a video file."));
        return;
    }
    std::function<QStringList()> list;
    if (source_->currentIndex() == kShown)
        request.pictures = shown_;
    else
        list = [folder = folder_, from = from_->date(), to = to_->date()] {
            return ArchivePicturesOfDays(folder, std::min(from, to), std::max(from, to));
        };
    if (!job_->start(std::move(request), std::move(list)))
        return;
    progress_->setValue(0);
    progress_->setTextVisible(false);
    state_->setText(QStringLiteral("Making the video..."));
    setRunning(true);
}

void TimelapseDialog::showProgress(int done, int total, int secondsLeft) {
    progress_->setMaximum(std::max(1, total));
    progress_->setValue(done);
    // What is counted is the pictures read, skipped ones too, not the frames written.
    progress_->setFormat(QStringLiteral("%1 of %2")
                             .arg(done)
                             .arg(counted(total, QStringLiteral("picture"), QStringLiteral("pictures"))));
    progress_->setTextVisible(true);
    state_->setText(secondsLeft < 0 ? QStringLiteral("Making the video...")
                                    : QStringLiteral("%1 left").arg(clockText(secondsLeft)));
}

void TimelapseDialog::showResult(const TimelapseResult& r) {
    setRunning(false);
    switch (r.outcome) {
    case TimelapseResult::Outcome::Written:
        state_->setText(
            QStringLiteral("Written: %1 (%2, %3x%4%5)%6")
                .arg(QFileInfo(output_->text()).fileName(),
                     counted(r.frames, QStringLiteral("frame"), QStringLiteral("frames")))
                .arg(r.size.width())
                .arg(r.size.height())
                .arg(r.skipped ? QStringLiteral(", ") + counted(r.skipped, QStringLiteral("picture skipped"),
                                                                QStringLiteral("pictures skipped"))
                               : QString())
                .arg(r.skipped ? QStringLiteral("\nSkipped first: ") + r.firstSkipped : QString()));
        break;
    case TimelapseResult::Outcome::Cancelled:
        state_->setText(QStringLiteral("Cancelled: no video was written."));
        break;
    default:
        state_->setText(r.error);
        break;
    }
}

void TimelapseDialog::setRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{source_, fps_, width_, output_, browse_, make_})
        w->setEnabled(!running);
    const bool days = source_->currentIndex() != kShown;
    from_->setEnabled(days && !running);
    to_->setEnabled(days && !running);
}

void TimelapseDialog::closeEvent(QCloseEvent* event) {
    job_->cancel(); // the job stops at the next frame when the dialog goes
    QDialog::closeEvent(event);
}

} // namespace zantrel
