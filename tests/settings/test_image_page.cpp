// The Image page's stamp controls: what the free text prints now, under the field, and the new
// settings going through the page to the job's values.
#include "settings/image_page.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

using namespace zantrel;

class TestImagePage : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void showsWhatTheTextPrintsNow() {
        test::TempStore store;
        const QString station = QDir(store.dir()).filePath(QStringLiteral("station.txt"));
        QFile file(station);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("NW 12\n") == 6);
        file.close();
        ImagePage page;
        ImageValues values;
        values.textString = QStringLiteral("%Y {file:%1}\\nline {nope}").arg(station);
        values.logoSize = 30;
        values.urlInterval = 120;
        page.load(values);
        auto* shown = page.findChild<QLabel*>(QStringLiteral("TextPreview"));
        QVERIFY(shown && !shown->accessibleName().isEmpty());
        const QString year = QString::number(QDate::currentDate().year());
        QTRY_COMPARE_WITH_TIMEOUT(shown->text(), year + QStringLiteral(" NW 12 ⏎ line {nope}"), 5000);
        page.findChild<QLineEdit*>(QStringLiteral("TextString"))->setText(QStringLiteral("{file:/nowhere}"));
        QTRY_COMPARE_WITH_TIMEOUT(shown->text(), QStringLiteral("--"), 5000);
        page.findChild<QSpinBox*>(QStringLiteral("LogoOpacity"))->setValue(40);
        QCOMPARE(page.values().logoOpacity, 40);
        QCOMPARE(page.values().logoSize, 30);
        QCOMPARE(page.values().urlInterval, 120);
        page.findChild<QSpinBox*>(QStringLiteral("UrlInterval"))->setValue(1); // held at 5 s
        QCOMPARE(page.values().urlInterval, 5);
    }
};

QTEST_MAIN(TestImagePage)
#include "test_image_page.moc"
