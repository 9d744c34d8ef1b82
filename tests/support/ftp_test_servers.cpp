#include "support/ftp_test_servers.h"

#include "ftp/ftp_client.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zantrel::test {

namespace {

sockaddr_in loopback(quint16 port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A TCP socket bound to a free port on 127.0.0.1 and, when asked, listening; -1 on failure.
int boundSocket(quint16& port, bool listen) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        (!listen || ::listen(fd, 16) == 0) &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool accepts(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = loopback(port);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace

FtpServerFixture::~FtpServerFixture() {
    process_.kill();
    process_.waitForFinished();
}

bool FtpServerFixture::login(FtpClient& ftp, bool passive) const {
    return ftp.FtpConnect(QStringLiteral("127.0.0.1"), port_, user_, password_, passive);
}

QStringList FtpServerFixture::commands() const {
    QFile f(dir_.filePath(QStringLiteral("log")));
    QStringList out;
    if (f.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
            const auto m = logLine_.match(line);
            if (m.hasMatch())
                out.append(m.captured(1).trimmed());
        }
    return out;
}

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
    user_ = QStringLiteral("cam"); // the script's default account
    password_ = QStringLiteral("secret");
    logLine_.setPattern(QStringLiteral("^(.+)$"));
    QDir().mkpath(root());
    QStringList args{QStringLiteral(ZANTREL_TEST_DATA_DIR "/ftp_server.py"), QStringLiteral("--root"), root(),
                     QStringLiteral("--log"), dir_.filePath(QStringLiteral("log"))};
    if (!hangOn.isEmpty())
        args << QStringLiteral("--hang-on") << hangOn;
    static const char* const faultArgs[] = {"",
                                            "--no-connect-back",
                                            "--stall-data",
                                            "--no-rename",
                                            "--no-rename-over",
                                            "--drop-first-upload",
                                            "--slow"};
    if (fault != PyFtpFault::None)
        args << QString::fromLatin1(faultArgs[static_cast<int>(fault)]);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"), args);
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && process_.waitForReadyRead(deadline.remainingTime()))
        out += process_.readAllStandardOutput();
    if (out.startsWith("PORT "))
        port_ = static_cast<quint16>(out.mid(5).trimmed().toUInt());
    else
        failure_ = QStringLiteral("pyftpdlib did not start: ") + process_.errorString();
}

namespace {

// Runs a program to its end; its standard output, or a null array when it failed.
QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    const QByteArray out = p.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out; // success, even when silent
}

} // namespace

VsftpdServer::VsftpdServer(bool tls) {
    user_ = QStringLiteral("anonymous");
    password_ = QStringLiteral("cam@example.com");
    writableDir_ = QStringLiteral("upload");
    // ... FTP command: Client "127.0.0.1", "STOR webcam.jpg"
    logLine_.setPattern(QStringLiteral("FTP command: Client \"[^\"]*\", \"(.*)\"$"));
    const passwd* ftp = getpwnam("ftp");
    unavailable_ = !QFile::exists(QStringLiteral("/usr/sbin/vsftpd")) || geteuid() != 0 || !ftp;
    if (unavailable_) {
        failure_ = QStringLiteral("vsftpd needs /usr/sbin/vsftpd, root privileges and the user \"ftp\"");
        return;
    }
    QDir base(dir_.path());
    for (const char* d : {"root/upload", "root/readonly", "empty"})
        base.mkpath(QString::fromLatin1(d));
    // vsftpd works as the user "ftp", who must reach the folders; only "upload" is his.
    for (const QString& d : {dir_.path(), root(), root() + QStringLiteral("/readonly")})
        QFile::setPermissions(d, QFile::Permissions(0x7755));
    const quint16 port = closedPort();
    QFile conf(base.filePath(QStringLiteral("vsftpd.conf")));
    if (chown(QFile::encodeName(root() + QStringLiteral("/upload")).constData(), ftp->pw_uid, ftp->pw_gid) !=
            0 ||
        !conf.open(QIODevice::WriteOnly)) {
        failure_ = QStringLiteral("cannot prepare the folders for vsftpd");
        return;
    }
    conf.write(QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                              "background=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                              "connect_from_port_20=NO\nanonymous_enable=YES\nlocal_enable=NO\n"
                              "no_anon_password=YES\nwrite_enable=YES\nanon_upload_enable=YES\n"
                              "anon_mkdir_write_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
                              "anon_root=%2\nsecure_chroot_dir=%3\nsyslog_enable=NO\nxferlog_enable=YES\n"
                              "dual_log_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=%4\n")
                   .arg(port)
                   .arg(root(), base.filePath(QStringLiteral("empty")), base.filePath(QStringLiteral("log")))
                   .toUtf8());
    if (tls) {
        const QString cert = base.filePath(QStringLiteral("cert.pem"));
        const QString key = base.filePath(QStringLiteral("key.pem"));
        const QByteArray made =
            run(QStringLiteral("openssl"),
                {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                 QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                 QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                 QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
        const QByteArray pub =
            run(QStringLiteral("openssl"), {QStringLiteral("x509"), QStringLiteral("-pubkey"),
                                            QStringLiteral("-noout"), QStringLiteral("-in"), cert});
        const QByteArray der = run(QStringLiteral("openssl"),
                                   {QStringLiteral("pkey"), QStringLiteral("-pubin"),
                                    QStringLiteral("-outform"), QStringLiteral("der")},
                                   pub);
        if (made.isNull() || der.isEmpty()) {
            failure_ = QStringLiteral("openssl could not make a test certificate");
            return;
        }
        pin_ = QStringLiteral("sha256//") +
               QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toBase64());
        conf.write(QStringLiteral("ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                                  "force_anon_data_ssl=YES\nrequire_ssl_reuse=NO\nrsa_cert_file=%1\n"
                                  "rsa_private_key_file=%2\n")
                       .arg(cert, key)
                       .toUtf8());
    }
    conf.close();
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    process_.start(QStringLiteral("/usr/sbin/vsftpd"), {conf.fileName()});
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired() && process_.state() != QProcess::NotRunning;
         QThread::msleep(50))
        if (accepts(port)) {
            port_ = port;
            return;
        }
    failure_ = QStringLiteral("vsftpd did not start");
}

std::unique_ptr<FtpServerFixture> makeFtpServer(FtpServerKind kind) {
    if (kind == FtpServerKind::Vsftpd)
        return std::make_unique<VsftpdServer>();
    return std::make_unique<PyFtpServer>();
}

HungFtpServer::HungFtpServer() {
    fd_ = boundSocket(port_, true);
}

HungFtpServer::~HungFtpServer() {
    if (fd_ >= 0)
        ::close(fd_);
}

SshServer::SshServer() {
    const QDir base(dir_.path());
    base.mkpath(QStringLiteral("root"));
    QDir().mkpath(QStringLiteral("/run/sshd"));
    const QString hostKey = base.filePath(QStringLiteral("host_key"));
    for (const QString& key : {hostKey, keyFile()})
        if (run(QStringLiteral("ssh-keygen"),
                {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                 QString(), QStringLiteral("-f"), key})
                .isNull()) {
            failure_ = QStringLiteral("ssh-keygen failed");
            return;
        }
    QFile::copy(keyFile() + QStringLiteral(".pub"), base.filePath(QStringLiteral("authorized_keys")));
    const quint16 port = closedPort();
    QFile conf(base.filePath(QStringLiteral("sshd_config")));
    if (!QFile::exists(QStringLiteral("/usr/sbin/sshd")) || !conf.open(QIODevice::WriteOnly)) {
        failure_ = QStringLiteral("no /usr/sbin/sshd");
        return;
    }
    conf.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nAuthorizedKeysFile %3\n"
                              "PermitRootLogin prohibit-password\nPasswordAuthentication no\nStrictModes no\n"
                              "UsePAM no\nPidFile none\nSubsystem sftp internal-sftp\n")
                   .arg(port)
                   .arg(hostKey, base.filePath(QStringLiteral("authorized_keys")))
                   .toUtf8());
    conf.close();
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start(QStringLiteral("/usr/sbin/sshd"),
                   {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), conf.fileName()});
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired() && process_.state() != QProcess::NotRunning;
         QThread::msleep(50))
        if (accepts(port)) {
            port_ = port;
            knownHosts_ = QString::fromUtf8(
                run(QStringLiteral("ssh-keyscan"),
                    {QStringLiteral("-p"), QString::number(port), QStringLiteral("127.0.0.1")}));
            return;
        }
    failure_ = QStringLiteral("sshd did not start");
}

SshServer::~SshServer() {
    process_.kill();
    process_.waitForFinished();
}

QString SshServer::user() const {
    const passwd* me = getpwuid(geteuid());
    return me ? QString::fromLocal8Bit(me->pw_name) : QString();
}

quint16 closedPort() {
    quint16 port = 0;
    const int fd = boundSocket(port, false);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace zantrel::test
