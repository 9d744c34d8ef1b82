#include "settings/image_page.h"

#include "imaging/stamp.h"
#include "imaging/stamp_surface.h"
#include "publish/stamp_inputs.h"
#include "settings/control_rules.h"
#include "settings/page_widgets.h"
#include "shell/browse_for_folder.h"
#include "stampdata/url_values.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QThreadPool>
#include <QTimer>

namespace zantrel {

namespace {

QStringList positions() {
    QStringList list;
    for (const char* p : kStampPositions)
        list << QLatin1String(p);
    return list;
}

std::int32_t bgrOf(const QColor& c) {
    return std::int32_t(c.red() | (c.green() << 8) | (c.blue() << 16));
}

QSpinBox* limit(QWidget* parent, const char* name, const QString& caption, const QString& suffix) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setAccessibleName(caption);
    spin->setRange(0, 1000000);
    spin->setSuffix(suffix);
    spin->setSpecialValueText(QStringLiteral("no limit"));
    return spin;
}

QSpinBox* number(QWidget* parent, const char* name, const QString& caption, int low, int high,
                 const QString& suffix) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setAccessibleName(caption);
    spin->setRange(low, high);
    spin->setSuffix(suffix);
    return spin;
}

} // namespace

ImagePage::ImagePage(QWidget* parent)
    : QWidget(parent), fileName_(page::field(this, "FTPFilename", QStringLiteral("Filename:"),
                                             QStringLiteral("Filename that will be saved on remote server"))),
      compression_(page::slider(this, "Compression", QStringLiteral("JPEG Compression"), 1, 100)),
      compressionLabel_(page::label(this, "CompressionLabel", QStringLiteral("JPEG Compression"))),
      saveCopy_(page::check(this, "SaveaCopy", QStringLiteral("Save a copy on a Local Drive"),
                            QStringLiteral("Webcam Zantrel can save which image to your hard disk."))),
      browseButton_(new QPushButton(QStringLiteral("Browse"), this)),
      archivePath_(page::label(this, "ArchivePath", {})),
      keepDays_(limit(this, "KeepDays", QStringLiteral("Delete copies older than"), QStringLiteral(" days"))),
      keepMb_(limit(this, "KeepMb", QStringLiteral("Keep the copies within"), QStringLiteral(" MB"))),
      keepFreeMb_(limit(this, "KeepFreeMb", QStringLiteral("Keep free on the disk"), QStringLiteral(" MB"))),
      newestFirst_(
          page::check(this, "GalleryNewestFirst", QStringLiteral("Gallery shows the newest copy first"))),
      time_(makeStamp("InsertTime", QStringLiteral("Insert Time:"), "TimePosition", "TimeSample",
                      "TimeForecolor")),
      date_(makeStamp("InsertDate", QStringLiteral("Insert Date:"), "DatePosition", "DateSample",
                      "DateForecolor")),
      text_(makeStamp("InsertText", QStringLiteral("Insert Text:"), "TextPosition", "TextSample",
                      "TextForeColor")),
      transparent_(page::check(this, "Transparent", QStringLiteral("Use Transparent Background"))),
      textString_(page::field(
          this, "TextString", QStringLiteral("Text"),
          QStringLiteral(
              "You can use &time = real time, &date = real date,&next  = next upload, %Y %m %d "
              "%H %M %S %a %A %b %B %j %Z, {sunrise}, {sunset}, {host}, {instance}, "
              "{file:PATH#line}, {json:PATH#/pointer}, {url:ADDRESS#/pointer}, \\n for a new line."))),
      textPreview_(page::label(this, "TextPreview", {})),
      valueMaxAge_(number(this, "ValueMaxAge", QStringLiteral("Values older than this show --"), 0, 86400,
                          QStringLiteral(" s"))),
      urlInterval_(number(this, "UrlInterval", QStringLiteral("Fetch addresses every"), kStampUrlIntervalMin,
                          kStampUrlIntervalMax, QStringLiteral(" s"))),
      logoFile_(page::field(this, "LogoFile", QStringLiteral("Logo"),
                            QStringLiteral("A PNG or JPEG file printed on the picture"))),
      logoPosition_(page::list(this, "LogoPosition", QStringLiteral("Logo position"), positions())),
      logoSize_(number(this, "LogoSize", QStringLiteral("Logo height"), 1, 100, QStringLiteral(" %"))),
      logoOpacity_(number(this, "LogoOpacity", QStringLiteral("Logo opacity"), 0, 100, QStringLiteral(" %"))),
      font_(page::field(this, "StampFont", QStringLiteral("Font"),
                        QStringLiteral("The stamps' font family; empty for the program's own"))),
      fontSize_(number(this, "StampFontSize", QStringLiteral("Font size"), 10, 400, QStringLiteral(" %"))) {
    textPreview_->setAccessibleName(QStringLiteral("What the text prints now"));
    textPreview_->setTextFormat(Qt::PlainText);
    textPreview_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    font_->setPlaceholderText(QStringLiteral("DejaVu Sans"));
    compression_->setTickInterval(5);
    compression_->setTickPosition(QSlider::TicksBelow);
    compression_->setToolTip(
        QStringLiteral("Filename compression (if you increase compression you will decrease quality)"));
    browseButton_->setObjectName(QStringLiteral("BrowseButton"));
    archivePath_->setAccessibleName(QStringLiteral("Archive folder"));
    archivePath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* backButton = new QPushButton(QStringLiteral("Set Backcolor Color"), this);
    backButton->setObjectName(QStringLiteral("BackColor"));

    auto* grid = new QGridLayout(this);
    int row = 0;
    grid->addWidget(page::label(this, nullptr, QStringLiteral("Filename:")), row, 0);
    grid->addWidget(fileName_, row++, 1, 1, 3);
    grid->addWidget(compressionLabel_, row, 0);
    grid->addWidget(compression_, row++, 1, 1, 3);
    grid->addWidget(saveCopy_, row, 0);
    grid->addWidget(browseButton_, row, 1);
    grid->addWidget(archivePath_, row++, 2, 1, 2);
    auto* limits = new QHBoxLayout;
    limits->addWidget(page::label(this, nullptr, QStringLiteral("Delete copies older than")));
    limits->addWidget(keepDays_);
    limits->addWidget(page::label(this, nullptr, QStringLiteral("or beyond")));
    limits->addWidget(keepMb_);
    limits->addWidget(page::label(this, nullptr, QStringLiteral("or while the disk has less free than")));
    limits->addWidget(keepFreeMb_);
    limits->addStretch();
    grid->addLayout(limits, row++, 0, 1, 4);
    grid->addWidget(newestFirst_, row++, 0, 1, 4);
    for (Stamp* s : {&time_, &date_, &text_}) {
        grid->addWidget(s->insert, row, 0);
        grid->addWidget(s->position, row, 1);
        grid->addWidget(s->sample, row, 2);
        grid->addWidget(s->button, row++, 3);
    }
    auto* background = new QGroupBox(QStringLiteral("Background / Transparent"), this);
    auto* backLayout = new QHBoxLayout(background);
    backLayout->addWidget(backButton);
    backLayout->addWidget(transparent_);
    grid->addWidget(background, row++, 0, 1, 4);
    grid->addWidget(page::label(this, nullptr, QStringLiteral("Text:")), row, 0);
    grid->addWidget(textString_, row++, 1, 1, 3);
    grid->addWidget(textPreview_, row++, 1, 1, 3);
    auto* values = new QHBoxLayout;
    values->addWidget(page::label(this, nullptr, QStringLiteral("Values older than")));
    values->addWidget(valueMaxAge_);
    values->addWidget(page::label(this, nullptr, QStringLiteral("show --; addresses are fetched every")));
    values->addWidget(urlInterval_);
    values->addStretch();
    grid->addLayout(values, row++, 0, 1, 4);
    grid->addWidget(page::label(this, nullptr, QStringLiteral("Logo:")), row, 0);
    grid->addWidget(logoFile_, row++, 1, 1, 3);
    auto* logo = new QHBoxLayout;
    logo->addWidget(logoPosition_);
    logo->addWidget(page::label(this, nullptr, QStringLiteral("height")));
    logo->addWidget(logoSize_);
    logo->addWidget(page::label(this, nullptr, QStringLiteral("opacity")));
    logo->addWidget(logoOpacity_);
    logo->addStretch();
    grid->addLayout(logo, row++, 1, 1, 3);
    grid->addWidget(page::label(this, nullptr, QStringLiteral("Font:")), row, 0);
    grid->addWidget(font_, row, 1, 1, 2);
    grid->addWidget(fontSize_, row++, 3);
    grid->setRowStretch(row, 1);

    connect(compression_, &QSlider::valueChanged, this, [this](int v) {
        compressionLabel_->setText(CompressionText(v));
        Q_EMIT liveValuesEdited();
    });
    connect(saveCopy_, &QCheckBox::toggled, this, &ImagePage::enableArchive);
    connect(browseButton_, &QPushButton::clicked, this, &ImagePage::browse);
    connect(backButton, &QPushButton::clicked, this, &ImagePage::pickBackColour);
    connect(transparent_, &QCheckBox::toggled, this, &ImagePage::liveValuesEdited);
    connect(textString_, &QLineEdit::textChanged, this, &ImagePage::liveValuesEdited);
    connect(textString_, &QLineEdit::textChanged, this, &ImagePage::refreshTextPreview);
    for (QLineEdit* field : {logoFile_, font_})
        connect(field, &QLineEdit::textChanged, this, &ImagePage::liveValuesEdited);
    for (QSpinBox* spin : {valueMaxAge_, logoSize_, logoOpacity_, fontSize_})
        connect(spin, &QSpinBox::valueChanged, this, &ImagePage::liveValuesEdited);
    connect(logoPosition_, &QComboBox::currentIndexChanged, this, &ImagePage::liveValuesEdited);
    auto* tick = new QTimer(this); // the clock and the values move on
    connect(tick, &QTimer::timeout, this, &ImagePage::refreshTextPreview);
    tick->start(1000);
    for (Stamp* s : {&time_, &date_, &text_}) {
        connect(s->position, &QComboBox::currentIndexChanged, this, &ImagePage::liveValuesEdited);
        connect(s->button, &QPushButton::clicked, this, [this, s] { pickForeColour(*s); });
    }
}

ImagePage::Stamp ImagePage::makeStamp(const char* insertName, const QString& caption,
                                      const char* positionName, const char* sampleName,
                                      const char* buttonName) {
    Stamp s{page::check(this, insertName, caption), page::list(this, positionName, caption, positions()),
            page::label(this, sampleName, QStringLiteral("Sample")),
            new QPushButton(QStringLiteral("Forecolor"), this)};
    s.sample->setAutoFillBackground(true);
    s.sample->setAlignment(Qt::AlignCenter);
    s.button->setObjectName(QLatin1String(buttonName));
    s.button->setAccessibleName(caption + QStringLiteral(" Forecolor"));
    return s;
}

void ImagePage::load(const ImageValues& v) {
    const QSignalBlocker quiet(this);
    fileName_->setText(v.fileName);
    compression_->setValue(v.compression);
    compressionLabel_->setText(CompressionText(compression_->value()));
    saveCopy_->setChecked(v.saveCopy);
    enableArchive();
    archivePath_->setText(v.archivePath);
    keepDays_->setValue(v.keepDays);
    keepMb_->setValue(v.keepMb);
    keepFreeMb_->setValue(v.keepFreeMb);
    newestFirst_->setChecked(v.galleryNewestFirst);
    time_.insert->setChecked(v.time);
    date_.insert->setChecked(v.date);
    text_.insert->setChecked(v.text);
    time_.colour = v.timeColor;
    date_.colour = v.dateColor;
    text_.colour = v.textColor;
    back_ = v.backColor;
    paintSamples();
    transparent_->setChecked(v.transparent);
    textString_->setText(v.textString);
    time_.position->setCurrentIndex(v.timePos);
    date_.position->setCurrentIndex(v.datePos);
    text_.position->setCurrentIndex(v.textPos);
    valueMaxAge_->setValue(v.valueMaxAge);
    urlInterval_->setValue(v.urlInterval);
    logoFile_->setText(v.logoFile);
    logoPosition_->setCurrentIndex(std::clamp(v.logoPos, 0, 6));
    logoSize_->setValue(v.logoSize);
    logoOpacity_->setValue(v.logoOpacity);
    font_->setText(v.font);
    fontSize_->setValue(v.fontSize);
    refreshTextPreview();
}

ImageValues ImagePage::values() const {
    ImageValues v;
    v.fileName = fileName_->text();
    v.compression = compression_->value();
    v.saveCopy = saveCopy_->isChecked();
    v.archivePath = archivePath_->text();
    v.keepDays = keepDays_->value();
    v.keepMb = keepMb_->value();
    v.keepFreeMb = keepFreeMb_->value();
    v.galleryNewestFirst = newestFirst_->isChecked();
    v.time = time_.insert->isChecked();
    v.date = date_.insert->isChecked();
    v.text = text_.insert->isChecked();
    v.timeColor = time_.colour;
    v.dateColor = date_.colour;
    v.textColor = text_.colour;
    v.backColor = back_;
    v.transparent = transparent_->isChecked();
    v.textString = textString_->text();
    v.timePos = time_.position->currentIndex();
    v.datePos = date_.position->currentIndex();
    v.textPos = text_.position->currentIndex();
    v.valueMaxAge = valueMaxAge_->value();
    v.urlInterval = urlInterval_->value();
    v.logoFile = logoFile_->text();
    v.logoPos = logoPosition_->currentIndex();
    v.logoSize = logoSize_->value();
    v.logoOpacity = logoOpacity_->value();
    v.font = font_->text();
    v.fontSize = fontSize_->value();
    return v;
}

void ImagePage::refreshTextPreview() {
    if (previewBusy_)
        return; // the next tick shows the newest text
    previewBusy_ = true;
    LiveValues::Values live;
    live.valueMaxAge = valueMaxAge_->value();
    StampParams stamp;
    stamp.text = true;
    stamp.freeText = textString_->text();
    // Files are read off the UI thread; fetched addresses show the program's last answers.
    QThreadPool::globalInstance()->start([page = QPointer<ImagePage>(this), live, stamp]() mutable {
        StampInputs inputs([](const QString& address) { return StampInputs::instance().fetched(address); });
        inputs.prepare(stamp, live, 0, QDateTime::currentDateTime());
        const QString shown = StampTemplateLines(stamp.freeText).join(QStringLiteral(" ⏎ "));
        QMetaObject::invokeMethod(qApp, [page, shown] {
            if (!page)
                return;
            page->previewBusy_ = false;
            page->textPreview_->setText(shown);
        });
    });
}

void ImagePage::paintSamples() {
    for (Stamp* s : {&time_, &date_, &text_}) {
        QPalette palette = s->sample->palette();
        palette.setColor(QPalette::WindowText, colourFromBgr(quint32(s->colour)));
        palette.setColor(QPalette::Window, colourFromBgr(quint32(back_)));
        s->sample->setPalette(palette);
    }
}

void ImagePage::pickForeColour(Stamp& stamp) {
    const QColor chosen = QColorDialog::getColor(colourFromBgr(quint32(stamp.colour)), this);
    if (!chosen.isValid())
        return;
    stamp.colour = bgrOf(chosen);
    paintSamples();
    Q_EMIT liveValuesEdited();
}

void ImagePage::pickBackColour() {
    const QColor chosen = QColorDialog::getColor(colourFromBgr(quint32(back_)), this);
    if (!chosen.isValid())
        return;
    back_ = bgrOf(chosen);
    paintSamples();
    Q_EMIT liveValuesEdited();
}

void ImagePage::browse() {
    const QString folder = BrowseForFolder(this);
    if (folder != kBrowseCancelled)
        archivePath_->setText(folder);
}

void ImagePage::enableArchive() {
    archivePath_->setEnabled(saveCopy_->isChecked());
    browseButton_->setEnabled(saveCopy_->isChecked());
}

} // namespace zantrel
