#include "support/ftp_test_servers.h"

#include "support/ftp_test_files.h"
#include "transfer/ftp_client.h"

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

// Connects a TCP socket to port on 127.0.0.1, or with port 0 binds it to a free port (port is set);
// the socket is closed again. False on failure.
bool loopback(quint16& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    socklen_t len = sizeof addr;
    auto* a = reinterpret_cast<sockaddr*>(&addr);
    const bool ok = fd >= 0 && (port ? ::connect(fd, a, len) == 0
                                     : ::bind(fd, a, len) == 0 && ::getsockname(fd, a, &len) == 0);
    if (ok)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace

QByteArray sh(const QString& command) {
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    const QByteArray out = p.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out; // success, even when silent
}

quint16 startListening(QProcess& process, const QString& program, const QStringList& args, quint16 port) {
    process.start(program, args);
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired() && process.state() != QProcess::NotRunning;
         QThread::msleep(50)) {
        if (loopback(port))
            return port;
    }
    return 0;
}

quint16 startPython(QProcess& process, const QStringList& args) {
    process.start(QStringLiteral("/usr/bin/python3"), args);
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && process.waitForReadyRead(int(deadline.remainingTime())))
        out += process.readAllStandardOutput();
    return out.startsWith("PORT ") ? static_cast<quint16>(out.mid(5).trimmed().toUInt()) : 0;
}

QString selfSignedCertificate(const QString& key, const QString& cert) {
    const QByteArray pin =
        sh(QStringLiteral("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout %1 "
                          "-out %2 2>/dev/null && openssl x509 -pubkey -noout -in %2 | openssl pkey -pubin "
                          "-outform der | openssl dgst -sha256 -binary | base64")
               .arg(key, cert));
    return pin.trimmed().size() == 44 ? QStringLiteral("sha256//") + QString::fromLatin1(pin.trimmed())
                                      : QString();
}

bool FtpServerFixture::login(FtpClient& ftp, bool passive) const {
    return ftp.FtpConnect(QStringLiteral("127.0.0.1"), port_, user_, password_, passive);
}

QStringList FtpServerFixture::commands() const {
    QStringList out;
    for (const QString& line : log().split('\n'))
        if (const auto m = logLine_.match(line); m.hasMatch())
            out.append(m.captured(1).trimmed());
    return out;
}

QString FtpServerFixture::log() const {
    return QString::fromUtf8(readFile(dir_.filePath(QStringLiteral("log"))));
}

int FtpServerFixture::count(const QString& verb) const {
    return commands()
        .filter(QRegularExpression(QStringLiteral("^%1( |$)").arg(verb),
                                   QRegularExpression::CaseInsensitiveOption))
        .size();
}

bool FtpServerFixture::waitFor(const QString& verb, int n, int timeoutMs) const {
    for (QDeadlineTimer deadline(timeoutMs); count(verb) < n; QThread::msleep(20))
        if (deadline.hasExpired())
            return false;
    return true;
}

PyFtpServer::PyFtpServer(const QString& hangOn, const QString& fault) {
    user_ = QStringLiteral("cam"); // the script's default account
    password_ = QStringLiteral("secret");
    logLine_.setPattern(QStringLiteral("^(.+)$"));
    QDir().mkpath(root());
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    port_ = startPython(process_,
                        {QStringLiteral(ZANTREL_TEST_DATA_DIR "/ftp_server.py"), QStringLiteral("--root"),
                         root(), QStringLiteral("--log"), dir_.filePath(QStringLiteral("log")),
                         QStringLiteral("--hang-on"), hangOn, QStringLiteral("--fault"), fault});
    if (!port_)
        failure_ = QStringLiteral("pyftpdlib did not start: ") + process_.errorString();
}

VsftpdServer::VsftpdServer(bool tls, bool implicitTls, bool tls13Only) {
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
    const QDir base(dir_.path());
    for (const char* d : {"root/upload", "root/readonly", "empty"})
        base.mkpath(QString::fromLatin1(d));
    // vsftpd works as the user "ftp", who must reach the folders; only "upload" is his.
    for (const QString& d : {dir_.path(), root(), root() + QStringLiteral("/readonly")})
        QFile::setPermissions(d, QFile::Permissions(0x7755));
    quint16 port = implicitTls ? 990 : closedPort();
    // Port 990 is the same for every run on this machine: wait for another run's server to go.
    for (QDeadlineTimer deadline(20000); implicitTls && loopback(port) && !deadline.hasExpired();)
        QThread::msleep(100);
    QString conf =
        QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\nbackground=NO\n"
                       "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nconnect_from_port_20=NO\n"
                       "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\nwrite_enable=YES\n"
                       "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
                       "anon_umask=022\nanon_root=%2\nsecure_chroot_dir=%3\nsyslog_enable=NO\n"
                       "xferlog_enable=YES\ndual_log_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=%4\n")
            .arg(port)
            .arg(root(), base.filePath(QStringLiteral("empty")), base.filePath(QStringLiteral("log")));
    if (tls) {
        const QString cert = base.filePath(QStringLiteral("cert.pem")),
                      key = base.filePath(QStringLiteral("key.pem"));
        pin_ = selfSignedCertificate(key, cert);
        if (pin_.isEmpty()) {
            failure_ = QStringLiteral("openssl could not make a test certificate");
            return;
        }
        conf += QStringLiteral("ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                               "force_anon_data_ssl=YES\nrequire_ssl_reuse=NO\nrsa_cert_file=%1\n"
                               "rsa_private_key_file=%2\ndebug_ssl=YES\nimplicit_ssl=%3\n")
                    .arg(cert, key, QLatin1String(implicitTls ? "YES" : "NO"));
    }
    const QString confFile = base.filePath(QStringLiteral("vsftpd.conf"));
    const QString openssl = base.filePath(QStringLiteral("openssl.cnf"));
    if (chown(QFile::encodeName(root() + QStringLiteral("/upload")).constData(), ftp->pw_uid, ftp->pw_gid) !=
            0 ||
        !writeFile(confFile, conf.toUtf8()) ||
        (tls13Only && !writeFile(openssl, "openssl_conf = conf\n[conf]\nssl_conf = ssl\n[ssl]\n"
                                          "system_default = tls\n[tls]\nMinProtocol = TLSv1.3\n"))) {
        failure_ = QStringLiteral("cannot prepare the folders and configuration for vsftpd");
        return;
    }
    if (tls13Only) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OPENSSL_CONF"), openssl);
        process_.setProcessEnvironment(env);
    }
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    port_ = startListening(process_, QStringLiteral("/usr/sbin/vsftpd"), {confFile}, port);
    if (!port_)
        failure_ = QStringLiteral("vsftpd did not start");
}

SshServer::SshServer(const QString& hostKeyType) {
    const passwd* me = getpwuid(geteuid());
    user_ = me ? QString::fromLocal8Bit(me->pw_name) : QString();
    const QDir base(dir_.path());
    base.mkpath(QStringLiteral("root"));
    QDir().mkpath(QStringLiteral("/run/sshd"));
    const QString hostKey = base.filePath(QStringLiteral("host_key"));
    const QString keys = base.filePath(QStringLiteral("authorized_keys"));
    const QString conf = base.filePath(QStringLiteral("sshd_config"));
    const quint16 port = closedPort();
    if (!QFile::exists(QStringLiteral("/usr/sbin/sshd")) ||
        sh(QStringLiteral(
               "ssh-keygen -q %4 -N '' -f %1 && ssh-keygen -q -t ed25519 -N '' -f %2 && cp %2.pub %3")
               .arg(hostKey, keyFile(), keys, hostKeyType))
            .isNull() ||
        !writeFile(conf,
                   QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nAuthorizedKeysFile %3\n"
                                  "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                                  "StrictModes no\nUsePAM no\nPidFile none\nSubsystem sftp internal-sftp\n")
                       .arg(port)
                       .arg(hostKey, keys)
                       .toUtf8())) {
        failure_ = QStringLiteral("no /usr/sbin/sshd or ssh-keygen failed");
        return;
    }
    process_.setStandardErrorFile(QProcess::nullDevice());
    port_ = startListening(process_, QStringLiteral("/usr/sbin/sshd"),
                           QStringLiteral("-D -e -f %1").arg(conf).split(u' '), port);
    if (port_)
        knownHosts_ =
            QString::fromUtf8(sh(QStringLiteral("ssh-keyscan -p %1 127.0.0.1 2>/dev/null").arg(port)));
    else
        failure_ = QStringLiteral("sshd did not start");
}

quint16 closedPort() {
    quint16 port = 0;
    return loopback(port) ? port : 0;
}

} // namespace zantrel::test
