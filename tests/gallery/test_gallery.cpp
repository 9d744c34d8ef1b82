#include "core/store.h"
#include "gallery/caption_pictures.h"
#include "gallery/gallery.h"
#include "gallery/gallery_model.h"
#include "gallery/image_folder.h"
#include "gallery/image_view.h"
#include "gallery/png_text.h"
#include "gallery/thumbnail_cache.h"
#include "shell/caption_row.h"
#include "support/claiming_jpeg.h"
#include "support/temp_store.h"

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <unistd.h>

using namespace zantrel;

namespace {

void touch(const QString& path, const QDateTime& time) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime));
}

// A picture whose left half is red and right half blue, written as `name` into `dir`, an hour old
// unless `age` says otherwise.
QString writePicture(const QDir& dir, const QString& name, int ageSeconds = 3600, QSize size = {64, 36}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height(), Qt::red);
    const QString path = dir.filePath(name);
    image.save(path, name.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive) ? "BMP" : "JPEG", 95);
    touch(path, QDateTime::currentDateTime().addSecs(-ageSeconds));
    return path;
}

// Decodes as the program does, counting the calls; with `gate`, each call first takes one permit.
struct CountingDecoder {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<QSemaphore> gate;
    ThumbnailDecoder decoder() const {
        return [calls = calls, gate = gate](const QString& path, QSize box) {
            if (gate)
                gate->acquire();
            ++*calls;
            return DecodeScaled(path, box);
        };
    }
};

struct Rig {
    QTemporaryDir folder;
    QTemporaryDir cache;
    CountingDecoder decoder;
    QDir dir() const { return QDir(folder.path()); }
    std::unique_ptr<Gallery> open() {
        auto gallery = std::make_unique<Gallery>(Gallery::Options{cache.path(), decoder.decoder()});
        gallery->showFolder(folder.path());
        return gallery;
    }
};

// Archive copies, oldest first; the first is in the hour that summer time skips in Berlin.
const QStringList kArchiveByAge{"29032026023000.JPG", "20112026083000.JPG", "01122026083000.JPG",
                                "01122026173015.JPG"};

void waitForFill(const Gallery& gallery) {
    QTRY_VERIFY_WITH_TIMEOUT(!gallery.loading(), 20000);
}

} // namespace

class TestGallery : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", QDir(cacheHome_.path()).absolutePath().toUtf8());
        qputenv("TZ", "Europe/Berlin"); // summer time: 29 March 2026 has no 02:30
    }

    void listsPicturesByNameWhateverTheCase() {
        QTemporaryDir folder;
        const QDir dir(folder.path());
        for (const char* name : {"b.JPG", "a.jpeg", "C.Bmp", "notes.txt", "jpg", "d.jpg.part", "A.jpg"})
            QFile(dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
        dir.mkdir(QStringLiteral("folder.jpg"));
        QStringList names;
        for (const ImageFile& file : ListImageFolder(folder.path()))
            names << file.name;
        QCOMPARE(names, (QStringList{"a.jpeg", "A.jpg", "b.JPG", "C.Bmp"}));
        QVERIFY(ListImageFolder(dir.filePath(QStringLiteral("missing"))).empty());
    }

    void footNoteFollowsTheFilesInOrder_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("empty") << QStringList{} << QStringList{"Loading Images...", ""};
        QTest::newRow("three") << QStringList{"c.jpg", "a.jpg", "b.jpg"}
                               << QStringList{"Loading Images...", "Loading a.jpg... (1 of 3)",
                                              "Loading b.jpg... (2 of 3)", "Loading c.jpg... (3 of 3)", ""};
    }
    void footNoteFollowsTheFilesInOrder() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, notes);
        Rig rig;
        for (const QString& name : files)
            writePicture(rig.dir(), name);
        Gallery gallery({rig.cache.path(), rig.decoder.decoder()});
        QSignalSpy spy(&gallery, &Gallery::footNoteChanged);
        gallery.showFolder(rig.folder.path());
        waitForFill(gallery);
        QStringList seen;
        for (const auto& args : spy)
            seen << args.at(0).toString();
        QCOMPARE(seen, notes);
        QCOMPARE(gallery.model().rowCount(), files.size());
        gallery.openItem(gallery.model().index(0)); // the first picture, or nothing
        QCOMPARE(gallery.viewer() ? QFileInfo(gallery.viewer()->path()).fileName() : QString(),
                 files.isEmpty() ? QString() : QStringLiteral("a.jpg"));
    }

    void closeDuringTheFillOnlyStopsIt() {
        Rig rig;
        for (int i = 0; i < 12; ++i)
            writePicture(rig.dir(), QStringLiteral("f%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        rig.decoder.gate = std::make_shared<QSemaphore>(2);
        auto gallery = rig.open();
        QTRY_COMPARE(gallery->footNote()->text(), QStringLiteral("Loading f02.jpg... (3 of 12)"));
        gallery->captionClicked(QStringLiteral("close"));
        rig.decoder.gate->release(100);
        QVERIFY(gallery->isVisible() && !gallery->loading());
        QCOMPARE(gallery->footNote()->text(), QString());
        QTest::qWait(100); // work still in flight must not bring rows back
        QCOMPARE(gallery->model().rowCount(), 2);
        gallery->captionClicked(QStringLiteral("close"));
        QVERIFY(!gallery->isVisible());
    }

    void eachOpeningShowsTheFolderAsItIsNow() {
        test::TempStore store;
        QTemporaryDir folder;
        SaveSetting(keys::ImagePath, folder.path());
        writePicture(QDir(folder.path()), QStringLiteral("06122026100000.JPG"));
        for (int expected : {1, 2}) {
            QPointer<Gallery> gallery = Gallery::open();
            waitForFill(*gallery);
            QCOMPARE(gallery->model().rowCount(), expected);
            gallery->captionClicked(QStringLiteral("close"));
            QTRY_VERIFY(!gallery);
            writePicture(QDir(folder.path()), QStringLiteral("06122026100030.JPG"));
        }
    }

    // Archive copies are captioned with the date and time in their names, not their file times, and go
    // by it in the order picked in the gallery, which later openings keep; other files follow by name
    // with their file times.
    void archiveCopiesGoByTheTimeInTheirNames_data() {
        QTest::addColumn<bool>("newestFirst");
        QTest::addColumn<QStringList>("names");
        QStringList newest = kArchiveByAge;
        std::reverse(newest.begin(), newest.end());
        QTest::newRow("oldest first") << false << kArchiveByAge + QStringList{"a.bmp", "b.jpg"};
        QTest::newRow("newest first") << true << newest + QStringList{"a.bmp", "b.jpg"};
    }
    void archiveCopiesGoByTheTimeInTheirNames() {
        QFETCH(bool, newestFirst);
        QFETCH(QStringList, names);
        test::TempStore store;
        SaveSetting(keys::GalleryNewestFirst, newestFirst ? QStringLiteral("0") : QStringLiteral("1"));
        Rig rig;
        for (int i = 0; i < kArchiveByAge.size(); ++i) // the older the name, the newer the file
            writePicture(rig.dir(), kArchiveByAge[i], 3600 * (i + 1));
        writePicture(rig.dir(), QStringLiteral("b.jpg"), 60);
        writePicture(rig.dir(), QStringLiteral("a.bmp"), 7200);
        {
            auto gallery = rig.open();
            waitForFill(*gallery);
            QCOMPARE(gallery->order()->accessibleName(), QStringLiteral("Order"));
            QCOMPARE(gallery->order()->currentIndex(), newestFirst ? 0 : 1);
            QTest::keyClick(gallery->order(), newestFirst ? Qt::Key_End : Qt::Key_Home);
            waitForFill(*gallery);
            QCOMPARE(gallery->model().index(0).data().toString().section(QLatin1Char('\n'), 0, 0), names[0]);
        }
        auto gallery = rig.open();
        waitForFill(*gallery);
        QStringList shown, times;
        for (int row = 0; row < gallery->model().rowCount(); ++row) {
            const QString caption = gallery->model().index(row).data().toString();
            shown << caption.section(QLatin1Char('\n'), 0, 0);
            times << caption.section(QLatin1Char('\n'), 1);
        }
        QCOMPARE(shown, names);
        const auto text = [](const QDateTime& t) { return QLocale().toString(t, QLocale::ShortFormat); };
        QCOMPARE(times[names.indexOf("20112026083000.JPG")],
                 text(QDateTime(QDate(2026, 11, 20), QTime(8, 30))));
        QCOMPARE(times[names.indexOf("29032026023000.JPG")],
                 text(QDateTime(QDate(2026, 3, 29), QTime(2, 30), Qt::UTC))); // the clock skipped it
        const QFileInfo other(rig.dir().filePath(QStringLiteral("b.jpg")));
        QCOMPARE(times.last(), text(QDateTime::fromSecsSinceEpoch(other.lastModified().toSecsSinceEpoch())));
    }

    void maxresToggles() {
        Rig rig;
        auto gallery = rig.open();
        const QSize normal = gallery->size();
        for (const auto& [maximized, picture] : {std::pair{true, "restore"}, std::pair{false, "maximize"}}) {
            gallery->captionClicked(QStringLiteral("maxres"));
            QTRY_COMPARE(gallery->isMaximized(), maximized);
            QCOMPARE(CaptionPictureName(gallery->caption()->button(QStringLiteral("maxres"))),
                     QLatin1String(picture));
        }
        QTRY_COMPARE(gallery->size(), normal);
    }

    // Files that cannot or must not be decoded: the placeholder, and the viewer says why. A picture
    // claiming more than the pixel bound is refused from its header; links and other users' files
    // (planted in the archive) are not read at all.
    void undecodableFilesGetThePlaceholderAndStillOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said"); // in the viewer's message, after the file's path
        const auto row = [](const char* name, const char* kind, const char* said) {
            QTest::newRow(name) << QString::fromUtf8(kind) << QString::fromUtf8(said);
        };
        row("not a picture", "text", "is not a picture this program can read");
        row("cut short", "cut", "is not a picture this program can read");
        row("claims 65500×65500", "huge", "holds a picture of 65500×65500: more than the 40-megapixel limit");
        row("a link to a private file", "link", "is a link, not a picture file");
        row("another user's file", "foreign", "belongs to another user");
    }
    void undecodableFilesGetThePlaceholderAndStillOpen() {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        if (kind == QLatin1String("foreign") && ::geteuid() != 0)
            QSKIP("only root can hand a file to another user");
        Rig rig;
        QTemporaryDir elsewhere;
        QFile bad(writePicture(rig.dir(), QStringLiteral("b.jpg")));
        writePicture(rig.dir(), QStringLiteral("a.jpg"));
        const QByteArray content = kind == QLatin1String("text")   ? QByteArray("plain text, not a picture")
                                   : kind == QLatin1String("huge") ? test::ClaimingJpeg(65500, 65500)
                                                                   : QByteArray();
        QVERIFY(bad.open(QIODevice::ReadWrite));
        if (kind == QLatin1String("cut")) // into the picture data, past the header
            QVERIFY(bad.resize(bad.size() * 9 / 10));
        else if (!content.isEmpty())
            QVERIFY(bad.resize(0) && bad.write(content) == content.size());
        bad.close();
        if (kind == QLatin1String("link")) {
            const QString secret = writePicture(QDir(elsewhere.path()), QStringLiteral("secret.jpg"));
            QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY(bad.remove() && QFile::link(secret, bad.fileName()));
        } else if (kind == QLatin1String("foreign")) {
            QVERIFY(::chown(QFile::encodeName(bad.fileName()).constData(), 65534, 65534) == 0);
        }
        auto gallery = rig.open();
        waitForFill(*gallery);
        QVERIFY(!gallery->model().isBroken(0));
        QVERIFY(gallery->model().isBroken(1));
        gallery->openItem(gallery->model().index(1));
        QVERIFY(gallery->viewer()->picture().isNull());
        const QString message = gallery->viewer()->message();
        QVERIFY2(message.contains(kind == QLatin1String("huge") ? QStringLiteral("b.jpg ") + said
                                                                : bad.fileName() + QLatin1Char(' ') + said),
                 qPrintable(message));
    }

    void thumbnailCacheIsWrittenReusedAndRenewed() {
        Rig rig;
        const QString path = writePicture(rig.dir(), QStringLiteral("old.jpg"));
        writePicture(rig.dir(), QStringLiteral("new.jpg"), 0); // may still be being written
        ThumbnailCache cache(rig.cache.path());
        const QString entry = cache.entryPath(path);
        // A folder left open to others (by another program, or an older version) is narrowed, a missing
        // one made private.
        const QString folders[] = {rig.cache.path(), QFileInfo(entry).path()};
        QVERIFY(QFile::setPermissions(folders[0], QFile::Permissions(0x7755)));
        const auto fill = [&] {
            auto gallery = rig.open();
            waitForFill(*gallery);
            return rig.decoder.calls->exchange(0);
        };
        QCOMPARE(fill(), 2);
        QVERIFY(!QFile::exists(cache.entryPath(rig.dir().filePath(QStringLiteral("new.jpg")))));
        QCOMPARE(QFile::permissions(entry) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        for (const QString& folder : folders)
            QCOMPARE(QFile::permissions(folder) & 0x0777,
                     QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(QFileInfo(entry).dir().entryList(QDir::Files).size(), 1); // no temporary left
        QCOMPARE(ReadPngText(entry).value(QStringLiteral("Thumb::URI")),
                 QUrl::fromLocalFile(path).toString());
        QCOMPARE(QImage(entry).size(), QSize(64, 36));

        QCOMPARE(fill(), 1); // only the recent file is decoded again

        const QDateTime later = QDateTime::currentDateTime().addSecs(-60);
        touch(path, later);
        QCOMPARE(fill(), 2);
        QCOMPARE(ReadPngText(entry).value(QStringLiteral("Thumb::MTime")),
                 QString::number(later.toSecsSinceEpoch()));

        QVERIFY(QFile::resize(entry, QFileInfo(entry).size() - 20));
        QCOMPARE(fill(), 2);
        QVERIFY(!QImage(entry).isNull());
    }

    void viewerStretchesThePictureOrSaysWhatIsWrong() {
        QTemporaryDir folder;
        const QString path = writePicture(QDir(folder.path()), QStringLiteral("wide.jpg"), 3600, {160, 40});
        ImageView viewer;
        viewer.showPath(path);
        viewer.resize(300, 300);
        QTRY_VERIFY(viewer.source()->width() > 290);
        const QImage shown = viewer.source()->grab().toImage();
        const int y = shown.height() * 3 / 4; // well below where a kept proportion would end
        const QRgb left = shown.pixel(shown.width() / 8, y);
        const QRgb right = shown.pixel(shown.width() * 7 / 8, y);
        QVERIFY(qRed(left) > 200 && qBlue(left) < 60);
        QVERIFY(qBlue(right) > 200 && qRed(right) < 60);

        viewer.showPath(path + QStringLiteral(".gone"));
        QVERIFY(viewer.picture().isNull() &&
                viewer.message().contains(path + QStringLiteral(".gone does not exist")));
    }

  private:
    QTemporaryDir cacheHome_;
};

QTEST_MAIN(TestGallery)
#include "test_gallery.moc"
