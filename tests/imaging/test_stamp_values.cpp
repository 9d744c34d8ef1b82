#include "imaging/stamp_values.h"
#include "support/claiming_jpeg.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace zantrel;

namespace {

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = QDir(dir.path()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void age(const QString& path, int seconds) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) ||
        !file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds), QFileDevice::FileModificationTime))
        qFatal("cannot age %s", qPrintable(path));
}

} // namespace

class TestStampValues : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // Only this user's regular files are read, never through a link nor by waiting on a FIFO, and only
    // their first 64 KB.
    void readsOnlyPlainOwnFiles() {
        QTemporaryDir dir;
        const QString plain = write(dir, QStringLiteral("now.txt"), "21.4\n");
        QCOMPARE(ReadStampFile(plain).bytes, QByteArray("21.4\n"));
        const QString huge = write(dir, QStringLiteral("huge.txt"), QByteArray(1 << 20, 'x'));
        QCOMPARE(ReadStampFile(huge).bytes.size(), kStampValueBytes);

        const QString link = QDir(dir.path()).filePath(QStringLiteral("link.txt"));
        QVERIFY(QFile::link(plain, link));
        QVERIFY(ReadStampFile(link).problem.contains(QStringLiteral("link")));
        const QString fifo = QDir(dir.path()).filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(ReadStampFile(fifo).problem.contains(QStringLiteral("not a regular file")));
        QVERIFY(ReadStampFile(dir.path()).problem.contains(QStringLiteral("not a regular file")));
        QVERIFY(!ReadStampFile(QDir(dir.path()).filePath(QStringLiteral("none"))).problem.isEmpty());
        if (::geteuid() == 0) {
            const QString other = write(dir, QStringLiteral("other.txt"), "1\n");
            QCOMPARE(::chown(QFile::encodeName(other).constData(), 65534, 65534), 0);
            QVERIFY(ReadStampFile(other).problem.contains(QStringLiteral("another user")));
        }
    }

    // A value that cannot be read or is too old prints "--"; the trouble is said once, and once more
    // when the value is back.
    void troubleIsSaidOnce() {
        QTemporaryDir dir;
        const QString json = write(dir, QStringLiteral("station.json"), R"({"outTemp": 21.4})");
        const QString text = write(dir, QStringLiteral("station.txt"), "calm\nNW 12\n");
        StampValueReader reader;
        const QDateTime now = QDateTime::currentDateTime();
        const auto value = [&](const QString& kind, const QString& argument) {
            return reader.value(kind, argument, QDateTime::currentDateTime(), 600)
                .value_or(QStringLiteral("--"));
        };
        QCOMPARE(value(QStringLiteral("json"), json + QStringLiteral("#/outTemp")), QStringLiteral("21.4"));
        QCOMPARE(value(QStringLiteral("file"), text + QStringLiteral("#2")), QStringLiteral("NW 12"));
        QCOMPARE(value(QStringLiteral("file"), text), QStringLiteral("calm"));
        QVERIFY(reader.takeNews().isEmpty());

        age(json, 601);
        for (int job = 0; job < 2; ++job) {
            QCOMPARE(value(QStringLiteral("json"), json + QStringLiteral("#/outTemp")), QStringLiteral("--"));
            QCOMPARE(value(QStringLiteral("json"), json + QStringLiteral("#/inTemp")), QStringLiteral("--"));
            const QStringList news = reader.takeNews();
            QCOMPARE(news.size(), job == 0 ? 2 : 0);
            if (job == 0) {
                QVERIFY2(news.join('|').contains(QStringLiteral("older than 600 s")),
                         qPrintable(news.join('|')));
            }
        }
        write(dir, QStringLiteral("station.json"), R"({"outTemp": 22.0, "inTemp": 19})");
        QCOMPARE(value(QStringLiteral("json"), json + QStringLiteral("#/outTemp")), QStringLiteral("22"));
        QCOMPARE(value(QStringLiteral("json"), json + QStringLiteral("#/inTemp")), QStringLiteral("19"));
        const QStringList back = reader.takeNews();
        QCOMPARE(back.size(), 2);
        QVERIFY(back.first().endsWith(QStringLiteral("is back")));
        QVERIFY(reader.takeNews().isEmpty());
        Q_UNUSED(now);

        // A fetched address serves its last answer while it is fresh.
        StampValueReader fetched([](const QString& address) -> std::optional<FetchedValue> {
            if (address == QLatin1String("http://h/old"))
                return FetchedValue{"{\"t\": 1}", QDateTime::currentDateTime().addSecs(-700), {}};
            return FetchedValue{"{\"t\": 2}", QDateTime::currentDateTime(), {}};
        });
        const QDateTime moment = QDateTime::currentDateTime();
        QCOMPARE(fetched.value(QStringLiteral("url"), QStringLiteral("http://h/new#/t"), moment, 600),
                 QStringLiteral("2"));
        QVERIFY(!fetched.value(QStringLiteral("url"), QStringLiteral("http://h/old#/t"), moment, 600));
    }

    // The logo: decoded once, again when its file changes; a picture claiming 30000 x 30000 is refused
    // from its header, as is a file that is no picture.
    void logoIsCheckedAndKept() {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("logo.png"));
        QImage red(40, 20, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(path));
        StampLogo logo;
        QString problem;
        QImage scaled = logo.forFrame(path, 1000, 10, &problem);
        QCOMPARE(scaled.size(), QSize(200, 100));
        QCOMPARE(QColor(scaled.pixel(50, 50)), QColor(Qt::red));
        QImage blue(40, 40, QImage::Format_ARGB32);
        blue.fill(Qt::blue);
        QVERIFY(blue.save(path));
        age(path, 5); // a new time even on a coarse clock
        scaled = logo.forFrame(path, 1000, 10, &problem);
        QCOMPARE(scaled.size(), QSize(100, 100));
        QCOMPARE(QColor(scaled.pixel(50, 50)), QColor(Qt::blue));

        const QString jpeg = write(dir, QStringLiteral("huge.jpg"), test::ClaimingJpeg(30000, 30000));
        QVERIFY(logo.forFrame(jpeg, 1000, 10, &problem).isNull());
        QVERIFY2(problem.contains(QStringLiteral("30000")), qPrintable(problem));
        const QString text = write(dir, QStringLiteral("logo.txt"), "not a picture");
        QVERIFY(logo.forFrame(text, 1000, 10, &problem).isNull());
        QVERIFY2(problem.contains(QStringLiteral("not a picture")), qPrintable(problem));
    }
};

QTEST_GUILESS_MAIN(TestStampValues)
#include "test_stamp_values.moc"
