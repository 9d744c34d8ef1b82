#include "support/ftp_test_servers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zantrel::test {

namespace {

QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A socket on 127.0.0.1, closed with the object.
struct LoopbackSocket {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    LoopbackSocket() = default;
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    ~LoopbackSocket() {
        if (fd >= 0)
            ::close(fd);
    }
    static sockaddr_in address(quint16 port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return addr;
    }
};

quint16 freePort() {
    LoopbackSocket s;
    sockaddr_in addr = LoopbackSocket::address(0);
    socklen_t len = sizeof addr;
    if (s.fd < 0 || ::bind(s.fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

// True when a server on the port sends a greeting starting with "220" within the time.
bool greets(quint16 port, int timeoutMs) {
    LoopbackSocket s;
    sockaddr_in addr = LoopbackSocket::address(port);
    if (s.fd < 0 || ::connect(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return false;
    pollfd p{s.fd, POLLIN, 0};
    char reply[3] = {};
    return ::poll(&p, 1, timeoutMs) == 1 && ::recv(s.fd, reply, 3, MSG_WAITALL) == 3 &&
           QByteArray(reply, 3) == "220";
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

int FtpServerFixture::count(const QString& verb) const {
    int n = 0;
    for (const QString& line : commands())
        if (line.section(QLatin1Char(' '), 0, 0).compare(verb, Qt::CaseInsensitive) == 0)
            ++n;
    return n;
}

bool FtpServerFixture::waitFor(const QString& verb, int n, int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    while (count(verb) < n) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

PyFtpServer::PyFtpServer(const QString& hangOn, PyFtpFault fault) {
    QDir(dir_.path()).mkpath(QStringLiteral("home"));
    QStringList args{QStringLiteral(ZANTREL_TEST_DATA_DIR "/ftp_server.py"),
                     QStringLiteral("--root"),
                     root(),
                     QStringLiteral("--user"),
                     user(),
                     QStringLiteral("--password"),
                     password(),
                     QStringLiteral("--log"),
                     dir_.filePath(QStringLiteral("commands.log"))};
    if (!hangOn.isEmpty())
        args << QStringLiteral("--hang-on") << hangOn;
    if (fault == PyFtpFault::NoConnectBack)
        args << QStringLiteral("--no-connect-back");
    if (fault == PyFtpFault::StallData)
        args << QStringLiteral("--stall-data");
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"), args);
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() &&
           process_.waitForReadyRead(deadline.remainingTime()))
        out += process_.readAllStandardOutput();
    const auto match = QRegularExpression(QStringLiteral("^PORT (\\d+)")).match(QString::fromLatin1(out));
    if (match.hasMatch()) {
        port_ = static_cast<quint16>(match.captured(1).toUInt());
    } else {
        failure_ = QStringLiteral("pyftpdlib did not start: ") + process_.errorString() + QLatin1Char(' ') +
                   QString::fromLatin1(out);
        stop(process_);
    }
}

PyFtpServer::~PyFtpServer() {
    stop(process_);
}

QStringList PyFtpServer::commands() const {
    // Lines are "VERB argument reply-code"; drop the code.
    QStringList out;
    for (const QString& line : fileLines(dir_.filePath(QStringLiteral("commands.log"))))
        out.append(line.section(QLatin1Char(' '), 0, -2).trimmed());
    return out;
}

QString VsftpdServer::unavailableReason() {
    if (!QFile::exists(QStringLiteral("/usr/sbin/vsftpd")))
        return QStringLiteral("/usr/sbin/vsftpd is not installed");
    if (geteuid() != 0)
        return QStringLiteral("vsftpd needs root privileges to start");
    if (!getpwnam("ftp"))
        return QStringLiteral("there is no system user \"ftp\"");
    return {};
}

VsftpdServer::VsftpdServer() {
    failure_ = unavailableReason();
    if (!failure_.isEmpty())
        return;
    const passwd* ftp = getpwnam("ftp");
    QDir base(dir_.path());
    base.mkpath(QStringLiteral("root/upload"));
    base.mkpath(QStringLiteral("root/readonly"));
    base.mkpath(QStringLiteral("empty"));
    // vsftpd changes to the user "ftp", who must reach the folders; only "upload" is his.
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    for (const QString& d : {dir_.path(), root(), root() + QStringLiteral("/readonly")})
        QFile::setPermissions(d, open);
    if (chown(QFile::encodeName(root() + QStringLiteral("/upload")).constData(), ftp->pw_uid, ftp->pw_gid) !=
        0) {
        failure_ = QStringLiteral("cannot hand the upload folder to the user ftp");
        return;
    }
    const quint16 port = freePort();
    const QString conf = base.filePath(QStringLiteral("vsftpd.conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly)) {
        failure_ = QStringLiteral("cannot write ") + conf;
        return;
    }
    f.write(
        QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                       "background=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                       "connect_from_port_20=NO\nport_enable=YES\npasv_enable=YES\n"
                       "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\n"
                       "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                       "anon_other_write_enable=YES\nanon_umask=022\nftp_username=ftp\n"
                       "anon_root=%2\nsecure_chroot_dir=%3\n"
                       "syslog_enable=NO\nxferlog_enable=YES\ndual_log_enable=YES\n"
                       "log_ftp_protocol=YES\nvsftpd_log_file=%4\n")
            .arg(port)
            .arg(root(), base.filePath(QStringLiteral("empty")), base.filePath(QStringLiteral("vsftpd.log")))
            .toUtf8());
    f.close();
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    process_.start(QStringLiteral("/usr/sbin/vsftpd"), {conf});
    // Ready when it greets.
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
        if (greets(port, 1000)) {
            port_ = port;
            return;
        }
        QThread::msleep(50);
    }
    failure_ = QStringLiteral("vsftpd did not start");
    stop(process_);
}

VsftpdServer::~VsftpdServer() {
    stop(process_);
}

QStringList VsftpdServer::commands() const {
    // ... FTP command: Client "127.0.0.1", "STOR webcam.jpg"
    static const QRegularExpression command(QStringLiteral("FTP command: Client \"[^\"]*\", \"(.*)\"$"));
    QStringList out;
    for (const QString& line : fileLines(dir_.filePath(QStringLiteral("vsftpd.log")))) {
        const auto m = command.match(line);
        if (m.hasMatch())
            out.append(m.captured(1));
    }
    return out;
}

std::unique_ptr<FtpServerFixture> makeFtpServer(FtpServerKind kind) {
    if (kind == FtpServerKind::Vsftpd)
        return std::make_unique<VsftpdServer>();
    return std::make_unique<PyFtpServer>();
}

HungFtpServer::HungFtpServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0)
        return;
    sockaddr_in addr = LoopbackSocket::address(0);
    socklen_t len = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(fd_, 16) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port_ = ntohs(addr.sin_port);
}

HungFtpServer::~HungFtpServer() {
    if (fd_ >= 0)
        ::close(fd_);
}

quint16 closedPort() {
    return freePort();
}

} // namespace zantrel::test
