// The program as a process left alone: `--once` (what it prints, writes and how it exits), and the window
// program and `--headless`, which keep publishing through errors nobody answers and end quickly on a
// signal in any state of the job.
#include "support/camera_servers.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/http_test_servers.h"
#include "support/rtsp_test_server.h"
#include "support/temp_store.h"
#include "transfer/upload_target.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace zantrel;
using namespace zantrel::test;

namespace {

enum class Mode { Window, Headless, Once };
enum class Http { Apache, ApacheNoMove, ApacheTls, ApacheTlsPinned, Rclone, RcloneSlow, S3, S3Auto, S3Moved };

// A camera whose first second is black, as a real camera's first frames are dark until its exposure
// settles.
const QString kDarkThenBright =
    QStringLiteral("concat name=c ! identity videotestsrc pattern=black num-buffers=10 ! "
                   "video/x-raw,width=160,height=120,framerate=10/1 ! c. "
                   "videotestsrc pattern=white ! video/x-raw,width=160,height=120,framerate=10/1 ! c.");

// The program in a home of its own, with no display and no camera unless given one.
struct Program {
    explicit Program(const QString& camera = {}) : home(camera) {}
    ~Program() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    ProgramHome home;
    QProcess process;
    QByteArray out, err;
    bool journal = false; // JOURNAL_STREAM names its output, as systemd sets it for a service

    void settings(const QByteArray& ini) { home.writeSettings(ini); }
    void start(Mode mode) {
        home.prepare(process);
        QProcessEnvironment e = process.processEnvironment();
        e.remove(QStringLiteral("DISPLAY")), e.remove(QStringLiteral("WAYLAND_DISPLAY"));
        e.remove(QStringLiteral("XDG_RUNTIME_DIR")); // as a session that names no runtime folder
        if (mode != Mode::Window)
            e.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(e);
        const QStringList args[] = {{}, {QStringLiteral("--headless")}, {QStringLiteral("--once")}};
        process.setArguments(args[int(mode)]);
        if (journal) {
            process.setProcessChannelMode(QProcess::MergedChannels);
            process.setArguments(QStringList{QStringLiteral("-c"),
                                             QStringLiteral("export JOURNAL_STREAM=$(stat -L -c %d:%i "
                                                            "/proc/self/fd/2); exec \"$0\" \"$@\""),
                                             process.program()} +
                                 process.arguments());
            process.setProgram(QStringLiteral("/bin/sh"));
        }
        process.start();
        QVERIFY(process.waitForStarted(5000));
    }
    void read() { out += process.readAllStandardOutput(), err += process.readAllStandardError(); }
    // Sends the signal; the milliseconds until the process had ended (-1 when not within 10 s).
    qint64 endBy(int signalNumber) {
        QElapsedTimer t;
        t.start();
        ::kill(pid_t(process.processId()), signalNumber);
        if (!process.waitForFinished(10000))
            return -1;
        read();
        return t.elapsed();
    }
    // One `--once` run without hang-up; false when it did not end normally within a minute.
    [[nodiscard]] bool once(const QByteArray& ini) {
        settings(ini + "[PREF]\nAHANGUP=0\n");
        out.clear(), err.clear();
        start(Mode::Once);
        const bool ended = process.waitForFinished(60000);
        read();
        return ended && process.exitStatus() == QProcess::NormalExit;
    }
    QStringList lines() const {
        return QString::fromLocal8Bit(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString file(const char* name) const { return home.path() + QLatin1Char('/') + QLatin1String(name); }
};

QByteArray serverIni(quint16 port) {
    return "[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=127.0.0.1\nPORT00001=" + QByteArray::number(port) +
           "\nLOGIN00001=cam\nPASSWORD00001=secret\n";
}

// A 1-second schedule, uploads to the server, no hang-up, and an archive folder that cannot exist.
QByteArray unattendedIni(quint16 port, const char* update = "PARTI=1\nUNITI=3\n") {
    return "[PREF]\nARUN=1\nAHANGUP=0\n[UPDATE]\nTYPE=1\n" + QByteArray(update) +
           "[IMAGE]\nSAVEACOPY=1\nPATH=no/such/folder\n" + serverIni(port);
}

} // namespace

class TestUnattended : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // The working file, the archive copy and a folder target's copy each stand whole on the disk before
    // their name points at them, with their folder synced after: a power cut leaves the old file or the
    // new one. Each has its final mode as it appears (the rename held back a moment, as a reader may
    // meet it): another user never finds it owner-only.
    void copiesAreOnTheDiskAndReadableAsTheyAppear() {
        if (!QFile::exists(QStringLiteral("/usr/bin/strace")))
            QSKIP("strace is not installed");
        ::umask(022);
        Program p;
        const QString home = p.home.path();
        QVERIFY(QDir(home).mkpath(QStringLiteral("archive")) && QDir(home).mkpath(QStringLiteral("www")));
        p.settings("[PREF]\nAHANGUP=0\n[IMAGE]\nSAVEACOPY=1\nPATH=" + QFile::encodeName(home) +
                   "/archive/\n[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=file://" + QFile::encodeName(home) +
                   "/www\n");
        p.home.prepare(p.process);
        const QString trace = home + QStringLiteral("/trace");
        p.process.setArguments({QStringLiteral("-f"), QStringLiteral("-y"), QStringLiteral("-qq"),
                                QStringLiteral("-s4096"), QStringLiteral("-o"), trace, QStringLiteral("-e"),
                                QStringLiteral("trace=rename,fchmod,fdatasync,fsync"), QStringLiteral("-e"),
                                QStringLiteral("inject=rename:delay_exit=300000"), p.process.program(),
                                QStringLiteral("--once")});
        p.process.setProgram(QStringLiteral("/usr/bin/strace"));
        p.process.start();
        QVERIFY(p.process.waitForStarted(5000));
        // Each picture's mode from the first moment its name shows.
        std::map<QString, mode_t> seen;
        QElapsedTimer elapsed;
        elapsed.start();
        while (p.process.state() != QProcess::NotRunning && elapsed.elapsed() < 60000) {
            for (const QString& dir : {home, home + "/archive", home + "/www"})
                for (const QString& name :
                     QDir(dir).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")}))
                    if (!seen.count(dir + '/' + name)) {
                        struct stat st {};
                        if (::stat(QFile::encodeName(dir + '/' + name).constData(), &st) == 0)
                            seen[dir + '/' + name] = st.st_mode & 0777;
                    }
            p.process.waitForFinished(2);
        }
        QCOMPARE(p.process.exitCode(), 0);
        QCOMPARE(seen.size(), std::size_t(3));
        const QStringList calls = QString::fromLocal8Bit(readFile(trace)).split(QLatin1Char('\n'));
        for (const auto& [file, mode] : seen) {
            QCOMPARE(mode, mode_t(0644));
            const QString folder = QFileInfo(file).absolutePath();
            const auto renamed = std::find_if(calls.begin(), calls.end(), [&](const QString& call) {
                return call.contains(QLatin1String("rename(\"")) && call.contains(", \"" + file + '"');
            });
            QVERIFY2(renamed != calls.end(), qPrintable(file));
            const QString temporary = renamed->section(QLatin1Char('"'), 1, 1);
            QVERIFY2(std::find_if(calls.begin(), renamed,
                                  [&](const QString& c) {
                                      return c.contains(QLatin1String("fdatasync(")) &&
                                             c.contains('<' + temporary + QStringLiteral(">)"));
                                  }) != renamed,
                     qPrintable(temporary));
            QVERIFY(std::find_if(renamed, calls.end(), [&](const QString& c) {
                        return c.contains(QLatin1String("fsync(")) &&
                               c.contains('<' + folder + QStringLiteral(">)"));
                    }) != calls.end());
        }
    }

    // The camera's picture once it has settled (or its first frame without a warm-up), uploaded, with
    // each status on a line of its own.
    void onceUploadsTheSettledCameraPicture_data() {
        QTest::addColumn<QByteArray>("warmUp");
        QTest::addColumn<bool>("bright");
        QTest::newRow("default warm-up") << QByteArray() << true;
        QTest::newRow("no warm-up: the first frame") << QByteArray("[VFW]\nWARMUP=0\n") << false;
    }
    void onceUploadsTheSettledCameraPicture() {
        QFETCH(QByteArray, warmUp);
        QFETCH(bool, bright);
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        Program program(kDarkThenBright);
        QVERIFY(program.once(warmUp + serverIni(server.port())));
        QCOMPARE(program.process.exitCode(), 0);
        const QStringList lines = program.lines();
        QCOMPARE(lines.value(0), QStringLiteral("Connecting... 127.0.0.1"));
        QVERIFY(lines.contains(QStringLiteral("Connected")) &&
                lines.contains(QStringLiteral("File Transfered.")));
        QCOMPARE(lines.value(lines.size() - 1), QStringLiteral("End Transfering"));
        const QByteArray local = readFile(program.file("webcam.jpg"));
        QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("webcam.jpg"))), local);
        const QImage image = QImage::fromData(local);
        QCOMPARE(image.size(), QSize(160, 120)); // the camera's picture, not the test card
        const int grey =
            qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
        QVERIFY2(bright ? grey > 200 : grey < 40, qPrintable(QString::number(grey)));
    }

    // Whatever keeps the image from where it belongs exits with 1: a server that cannot be reached, a
    // remote or local folder that cannot be entered (nothing is uploaded then), an image that cannot be
    // written (the picture is still sent). The failure is said on standard error, progress alone on
    // standard output. Every status and message naming the image stays one line though the name holds a
    // line break and an escape.
    void onceFailuresExitWithOne_data() {
        QTest::addColumn<QByteArray>("target"); // "live", "closed" or an address
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("line");
        QTest::newRow("server unreachable")
            << QByteArray("closed") << QByteArray() << "Cannot connect to FTP Server";
        QTest::newRow("remote folder missing")
            << QByteArray("live") << QByteArray("URL00001=no/such\n") << "Can't change directory.";
        QTest::newRow("local folder missing")
            << QByteArray("file:///no/such/folder") << QByteArray()
            << "Error:/no/such/folder does not exist: make the folder first";
        QTest::newRow("image unwritable")
            << QByteArray("closed") << QByteArray("[IMAGE]\nFILENAME=\"no/such\\n\\x1b[2Jfolder/cam.jpg\"\n")
            << "Error writing no/such  [2Jfolder/cam.jpgJPEG File.";
    }
    void onceFailuresExitWithOne() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, ini);
        QFETCH(QString, line);
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        Program program;
        QVERIFY(program.once(target.contains(':')
                                 ? "[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=" + target + "\n"
                                 : serverIni(target == "live" ? server.port() : closedPort()) + ini));
        QCOMPARE(program.process.exitCode(), 1);
        const QString all = QString::fromLocal8Bit(program.out + program.err);
        QVERIFY2(QString::fromLocal8Bit(program.err).split(QLatin1Char('\n')).contains(line),
                 qPrintable(all));
        QVERIFY2(program.out.contains("Connecting... ") && !program.out.contains("Error"), qPrintable(all));
        QVERIFY2(!all.contains(QLatin1Char('\x1b')) && !all.contains(QLatin1Char('\r')), qPrintable(all));
        QVERIFY(program.err.startsWith("No camera: publishing the test card\n")); // none in these runs
        if (target == "live") // not into the login folder instead
            QVERIFY(server.count(QStringLiteral("STOR")) == 0 && server.count(QStringLiteral("USER")) > 0);
    }

    // Under the journal every line carries its priority, so that `journalctl -p warning` lists the
    // failures alone; an alert beginning is a warning, its end information.
    void journalLinesCarryTheirPriority() {
        Program program;
        program.journal = true;
        QVERIFY(program.once(serverIni(closedPort())));
        const QRegularExpression prefixed(QStringLiteral("^<([346])>(.*)$"));
        for (const QString& line : program.lines()) {
            const auto m = prefixed.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const bool failure = m.captured(2).startsWith(QLatin1String("Error:")) ||
                                 m.captured(2) == QLatin1String("Cannot connect to FTP Server");
            QVERIFY2(failure == (m.captured(1) == QLatin1String("3")), qPrintable(line));
        }
        QVERIFY2(program.lines().contains(QStringLiteral("<6>Connecting... 127.0.0.1")) &&
                     program.lines().contains(QStringLiteral("<4>No camera: publishing the test card")),
                 program.out.constData());

        const QByteArray schedule = "[PREF]\nAHANGUP=0\n[UPDATE]\nTYPE=1\nPARTI=1\nUNITI=3\n";
        program.settings(
            schedule +
            "[ALERT]\nAFTER=1\nDESKTOP=0\n[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=file:///no/such\n");
        program.start(Mode::Headless);
        QTRY_VERIFY2_WITH_TIMEOUT(
            (program.read(), program.out.contains("\n<4>Alert failing: Uploads to file:///no/such ")),
            program.out.constData(), 15000);
        program.settings(schedule + "[FTP]\nUPLOAD=1\nSERVERS=0\n");
        QTRY_VERIFY2_WITH_TIMEOUT(
            (program.read(), program.out.contains("\n<6>Alert recovered: file:///no/such left")),
            program.out.constData(), 15000);
        QVERIFY(program.endBy(SIGTERM) >= 0);
    }

    // Headless outside its active hours: the schedule waits for their start and publishes nothing.
    void headlessWaitsForItsActiveHours() {
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        Program program;
        const QTime now = QTime::currentTime();
        const QByteArray from = now.addSecs(7200).toString("HH:mm").toLatin1();
        program.settings(unattendedIni(server.port(),
                                       "PARTI=1\nUNITI=3\nFROM=" + from +
                                           "\nTO=" + now.addSecs(10800).toString("HH:mm").toLatin1() + "\n"));
        program.start(Mode::Headless);
        QTRY_VERIFY_WITH_TIMEOUT((program.read(), program.out.contains(" at " + from + ":00")), 10000);
        QTest::qWait(3000);
        QVERIFY(program.endBy(SIGTERM) >= 0 && server.count(QStringLiteral("USER")) == 0);
    }

    // A network camera that freezes: within VFW/STALL + 2 s (and a job) the jobs publish the test card,
    // fail and say since when; its own pictures again within 15 s of its return (thawed, or its server
    // started again on the same port). `--once` with a camera that never delivers exits with 1.
    void lostCameraFailsJobsUntilItIsBack_data() {
        QTest::addColumn<Mode>("mode");
        QTest::newRow("headless") << Mode::Headless;
        QTest::newRow("window") << Mode::Window;
        QTest::newRow("once") << Mode::Once;
    }
    void lostCameraFailsJobsUntilItIsBack() {
        QFETCH(Mode, mode);
        PyFtpServer ftp;
        VERIFY_FTP_SERVER(ftp);
        RtspTestServer camera;
        Program program(camera.description());
        const QByteArray ini = "[VFW]\nSTALL=2\nWARMUP=0\n" + serverIni(ftp.port());
        const auto uploaded = [&ftp] {
            return QImage(QDir(ftp.root()).filePath(QStringLiteral("webcam.jpg"))).size();
        };
        if (mode == Mode::Once) {
            camera.signal(SIGSTOP);
            QVERIFY(program.once(ini) && program.process.exitCode() == 1);
            QVERIFY(program.err.contains("Camera lost since ") && uploaded() == QSize(320, 200));
            return;
        }
        program.settings("[PREF]\nARUN=1\nAHANGUP=0\n[UPDATE]\nTYPE=1\nPARTI=1\nUNITI=3\n" + ini);
        program.start(mode);
        QTRY_COMPARE_WITH_TIMEOUT(uploaded(), QSize(320, 240), 20000);
        camera.signal(SIGSTOP);
        QTRY_COMPARE_WITH_TIMEOUT(uploaded(), QSize(320, 200), 6000);
        if (mode != Mode::Window) // printed before the upload, but read through a pipe
            QTRY_VERIFY_WITH_TIMEOUT((program.read(), program.err.contains("Camera lost since ")), 5000);
        if (mode == Mode::Window)
            camera.stop();
        QVERIFY(mode == Mode::Window ? camera.start() : (camera.signal(SIGCONT), true));
        QTRY_COMPARE_WITH_TIMEOUT(uploaded(), QSize(320, 240), 15000);
    }

    // A chosen HTTP camera that answers a web page instead of pictures fails `--once`, the test card
    // published in its place.
    void onceWithAnHttpCameraGivingNoPictureFails() {
        PyFtpServer ftp;
        VERIFY_FTP_SERVER(ftp);
        CameraServer web(CameraServer::Kind::Http);
        QVERIFY2(web.running(), qPrintable(web.failure()));
        Program program;
        QVERIFY(program.once("[VFW]\nWARMUP=0\nCAMERA=" + web.url(QStringLiteral("/page")).toUtf8() + "\n" +
                             serverIni(ftp.port())));
        QCOMPARE(program.process.exitCode(), 1);
        QCOMPARE(QImage(QDir(ftp.root()).filePath(QStringLiteral("webcam.jpg"))).size(), QSize(320, 200));
    }

    // `--once` to WebDAV (apache2, rclone) and S3: the picture arrives byte for byte, ATOMIC on or off,
    // through folders made level by level with names escaped, and no ".part" stays; a refused MOVE gives
    // a direct upload, said; a wrong password or secret, an untrusted certificate (its pin told), a ".."
    // folder or a redirect (not followed) exits 1 with the reason; the entry's "Test" agrees. A viewer
    // polling the name meanwhile (rclone reading slowly) only ever finds a whole picture.
    void onceDeliversToHttpTargets_data() {
        QTest::addColumn<Http>("kind");
        QTest::addColumn<bool>("atomic");
        QTest::addColumn<QString>("folder");   // URL00001
        QTest::addColumn<QString>("password"); // instead of the server's
        QTest::addColumn<QString>("line");     // an output line starts so; "Error:..." exits 1
        const QString done = QStringLiteral("File Transfered."), none;
        QTest::newRow("apache, folders made") << Http::Apache << true << "cam/new day" << none << done;
        QTest::newRow("apache, direct") << Http::Apache << false << none << none << done;
        QTest::newRow("apache refusing MOVE") << Http::ApacheNoMove << true << none << none
                                              << "The server refuses renames: uploading directly from now on";
        QTest::newRow("apache, wrong password") << Http::Apache << true << none << "wrong"
                                                << "Error:401 Unauthorized";
        QTest::newRow("apache, folder leaving the address")
            << Http::Apache << true << "cam/../.." << none << "Error:The folder or name \"..\" is refused";
        QTest::newRow("apache over TLS, pinned") << Http::ApacheTlsPinned << true << none << none << done;
        QTest::newRow("apache over TLS, not trusted")
            << Http::ApacheTls << true << none << none
            << "Error:The certificate of 127.0.0.1 is not trusted by "
               "this system. To trust exactly this key, store its pin "
               "for the server: sha256//";
        QTest::newRow("rclone, folders made") << Http::Rclone << true << "a/b c" << none << done;
        QTest::newRow("rclone, direct") << Http::Rclone << false << none << none << done;
        QTest::newRow("rclone, slow, viewer") << Http::RcloneSlow << true << none << none << done;
        QTest::newRow("S3, prefix") << Http::S3 << true << "day/one" << none << done;
        QTest::newRow("S3, direct, region auto") << Http::S3Auto << false << none << none << done;
        QTest::newRow("S3, redirected")
            << Http::S3Moved << true << none << none
            << "Error:301 Moved Permanently (to http://elsewhere.invalid/moved/webcam.jpg";
        QTest::newRow("S3, wrong secret")
            << Http::S3 << true << none << "wrong"
            << "Error:403 Forbidden: SignatureDoesNotMatch: The request signature";
    }
    void onceDeliversToHttpTargets() {
        QFETCH(Http, kind);
        QFETCH(QString, folder);
        QFETCH(QString, line);
        const bool s3 = kind >= Http::S3, slow = kind == Http::RcloneSlow;
        std::unique_ptr<HttpServerFixture> server;
        if (s3)
            server = std::make_unique<S3Server>(QLatin1String(kind == Http::S3Auto ? "auto" : "us-east-1"));
        else if (kind <= Http::ApacheTlsPinned)
            server = std::make_unique<ApacheDavServer>(kind >= Http::ApacheTls, kind == Http::ApacheNoMove);
        else
            server = std::make_unique<RcloneDavServer>(slow ? 100 * 1024 : 0);
        VERIFY_FTP_SERVER(*server);
        ServerEntry e;
        e.address =
            server->address().replace(QLatin1String(kind == Http::S3Moved ? "/cam" : "/none"), "/moved");
        e.port = server->port(), e.login = server->user(), e.directory = folder;
        QFETCH(QString, password);
        e.password = password.isEmpty() ? server->password() : password;
        QFETCH(bool, atomic);
        e.atomic = atomic, e.region = QLatin1String(kind == Http::S3Auto ? "auto" : "");
        e.pinnedKey = kind == Http::ApacheTlsPinned ? server->pin() : QString();
        const QString remote =
            QDir::cleanPath(server->root() + (s3 ? "/cam/" : "/") + folder + "/webcam.jpg");
        const QByteArray old = noiseJpeg(64, 48);
        QVERIFY(!folder.isEmpty() || writeFile(remote, old)); // the picture it replaces
        std::atomic<int> reads = 0, bad = 0;
        std::jthread viewer([&](std::stop_token stop) {
            for (; !stop.stop_requested(); std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
                const QByteArray seen = readFile(remote);
                reads += !seen.isNull();
                bad += !seen.isNull() && seen != old &&
                       !(seen.startsWith("\xff\xd8") && seen.endsWith("\xff\xd9"));
            }
        });
        // The slow row's picture: a large one, some seconds on the way.
        Program program(slow ? QStringLiteral("videotestsrc pattern=snow ! video/x-raw,width=1280,height=720")
                             : "");
        QVERIFY(
            program.once(QStringLiteral("[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=%1\nPORT00001=%2\n"
                                        "LOGIN00001=%3\nPASSWORD00001=%4\nURL00001=\"%5\"\nATOMIC00001=%6\n"
                                        "REGION00001=%7\nPINNED00001=%8\n")
                             .arg(e.address)
                             .arg(e.port)
                             .arg(e.login, e.password, folder, QString::number(atomic), e.region, e.pinnedKey)
                             .toUtf8()));
        viewer.request_stop();
        const QString all = QString::fromLocal8Bit(program.out + program.err);
        QVERIFY2(!all.split(QLatin1Char('\n'))
                         .filter(QRegularExpression(u'^' + QRegularExpression::escape(line)))
                         .isEmpty() &&
                     !all.contains(e.password),
                 qPrintable(all));
        const bool delivered = !line.startsWith(QLatin1String("Error:"));
        QCOMPARE(program.process.exitCode(), delivered ? 0 : 1);
        const ServerCheckResult check = CheckTarget(e);
        // The Test agrees, and never looks up the host a redirect names.
        QVERIFY2(check.ok == delivered && !check.message.contains(e.password) &&
                     !check.message.contains(QLatin1String("resolve")),
                 qPrintable(check.message));
        if (!delivered)
            return;
        QCOMPARE(readFile(remote), readFile(program.file("webcam.jpg")));
        for (QDirIterator it(server->root(), QDirIterator::Subdirectories); it.hasNext();)
            QVERIFY2(!it.next().endsWith(QLatin1String(".part")), qPrintable(it.filePath()));
        QVERIFY2((reads > 0 || !folder.isEmpty()) && bad == 0,
                 qPrintable(QStringLiteral("%1 of %2 reads").arg(bad).arg(reads)));
    }

    // Left alone, with a message at every job, an upload that never ends or nobody reading its output:
    // it goes on publishing, and a signal ends it within 2 s.
    void keepsPublishingAndEndsOnASignal_data() {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("hangOn"); // "STOR": the upload never gets an answer
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("readerGone"); // standard output is a pipe nobody reads from
        QTest::newRow("window, messages shown, SIGTERM") << Mode::Window << QString() << SIGTERM << false;
        QTest::newRow("window, messages shown, SIGHUP") << Mode::Window << QString() << SIGHUP << false;
        QTest::newRow("window, upload hung, SIGINT")
            << Mode::Window << QStringLiteral("STOR") << SIGINT << false;
        QTest::newRow("headless, upload hung, SIGTERM")
            << Mode::Headless << QStringLiteral("STOR") << SIGTERM << false;
        QTest::newRow("headless, messages printed, SIGINT") << Mode::Headless << QString() << SIGINT << false;
        QTest::newRow("headless, output reader gone, SIGTERM")
            << Mode::Headless << QString() << SIGTERM << true;
    }
    void keepsPublishingAndEndsOnASignal() {
        QFETCH(Mode, mode);
        QFETCH(QString, hangOn);
        QFETCH(int, signalNumber);
        QFETCH(bool, readerGone);
        PyFtpServer server(hangOn);
        VERIFY_FTP_SERVER(server);
        // A camera where the archive's messages are read: the test card is never archived.
        const bool messagesRead = mode == Mode::Headless && hangOn.isEmpty() && !readerGone;
        Program program(messagesRead ? QStringLiteral("videotestsrc ! video/x-raw,width=160,height=120")
                                     : QString());
        // Headless, the schedule starts hourly; SIGHUP has the changed interval taken.
        const bool hourly = mode == Mode::Headless && !readerGone;
        program.settings(unattendedIni(server.port(), hourly ? "PARTI=1\nUNITI=1\n" : "PARTI=1\nUNITI=3\n"));
        int output[2] = {-1, -1};
        if (readerGone) {
            QVERIFY(::pipe2(output, O_CLOEXEC) == 0);
            program.process.setChildProcessModifier([out = output[1]] { ::dup2(out, STDOUT_FILENO); });
        }
        program.start(mode);
        if (readerGone)
            ::close(output[0]), ::close(output[1]); // the first line the program prints has no reader
        if (hourly) {
            QTRY_VERIFY_WITH_TIMEOUT((program.read(), program.out.contains(" Next Update: ")), 10000);
            program.settings(unattendedIni(server.port()));
            ::kill(pid_t(program.process.processId()), SIGHUP);
        }
        // Each upload comes after that job's archive copy failed, so its message is out by then.
        const int uploads = hangOn.isEmpty() ? 3 : 1;
        QVERIFY2(server.waitFor(QStringLiteral("STOR"), uploads, 10000),
                 qPrintable(server.commands().join(u',')));
        const qint64 ms = program.endBy(signalNumber);
        QVERIFY2(ms >= 0 && ms < 2000, qPrintable(QString::number(ms)));
        QVERIFY(program.process.exitStatus() == QProcess::NormalExit && program.process.exitCode() == 0);
        QVERIFY2(!program.err.contains("XDG_RUNTIME_DIR"),
                 program.err.constData()); // Qt's notice is not shown
        // Messages and statuses printed, not waited on; the next update without a count each second.
        if (messagesRead)
            QVERIFY(program.err.contains("Error writing no/such/folder/") &&
                    program.out.contains("File Transfered.\n") && program.out.contains("\n Next Update: ") &&
                    !program.out.contains(" (in "));
    }
};

QTEST_GUILESS_MAIN(TestUnattended)
#include "test_unattended.moc"
