#pragma once

#include "settings/settings_form.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace zantrel {

// The "Image" page: file name, compression, the archive copy and its limits, and the time, date and
// text stamps with their positions, colours, background and free text (with the line it prints now),
// the live values' maximum age, the logo and the stamps' font.
class ImagePage : public QWidget {
    Q_OBJECT
  public:
    explicit ImagePage(QWidget* parent = nullptr);

    void load(const ImageValues& values);
    ImageValues values() const;

  Q_SIGNALS:
    // A value the publishing job takes from the dialog changed (layout, colours, text, compression).
    void liveValuesEdited();

  private:
    struct Stamp {
        QCheckBox* insert;
        QComboBox* position;
        QLabel* sample;
        QPushButton* button;
        std::int32_t colour = 0xFFFFFF;
    };
    Stamp makeStamp(const char* insertName, const QString& caption, const char* positionName,
                    const char* sampleName, const char* buttonName);
    void pickForeColour(Stamp& stamp);
    void pickBackColour();
    void browse();
    void paintSamples();
    void enableArchive();
    // Works out off the UI thread what the free text prints now, and shows it under the text field.
    void refreshTextPreview();

    QLineEdit* fileName_;
    QSlider* compression_;
    QLabel* compressionLabel_;
    QCheckBox* saveCopy_;
    QPushButton* browseButton_;
    QLabel* archivePath_;
    QSpinBox* keepDays_;
    QSpinBox* keepMb_;
    QSpinBox* keepFreeMb_;
    QCheckBox* newestFirst_;
    Stamp time_, date_, text_;
    std::int32_t back_ = 0;
    QCheckBox* transparent_;
    QLineEdit* textString_;
    QLabel* textPreview_;
    QSpinBox* valueMaxAge_;
    QSpinBox* urlInterval_;
    QLineEdit* logoFile_;
    QComboBox* logoPosition_;
    QSpinBox* logoSize_;
    QSpinBox* logoOpacity_;
    QLineEdit* font_;
    QSpinBox* fontSize_;
    bool previewBusy_ = false;
};

} // namespace zantrel
