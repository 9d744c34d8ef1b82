#include "support/http_test_servers.h"

#include "support/ftp_test_files.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <unistd.h>

namespace zantrel::test {

bool HttpServerFixture::prepareTls() {
    pin_ = selfSignedCertificate(keyFile(), certFile());
    if (pin_.isEmpty())
        failure_ = QStringLiteral("openssl could not make a test certificate");
    return !pin_.isEmpty();
}

ApacheDavServer::ApacheDavServer(bool tls, bool refuseMove) {
    user_ = QStringLiteral("cam");
    password_ = QStringLiteral("secret");
    address_ = QLatin1String(tls ? "davs" : "dav") + QStringLiteral("://127.0.0.1/dav");
    logLine_.setPattern(QStringLiteral("^(\\S+ \\S+) HTTP"));
    const passwd* www = getpwnam("www-data");
    unavailable_ = !QFile::exists(QStringLiteral("/usr/sbin/apache2")) || geteuid() != 0 || !www;
    if (unavailable_) {
        failure_ =
            QStringLiteral("apache2 needs /usr/sbin/apache2, root privileges and the user \"www-data\"");
        return;
    }
    const QDir base(dir_.path());
    base.mkpath(QStringLiteral("root")), base.mkpath(QStringLiteral("lock"));
    QFile::setPermissions(dir_.path(), QFile::Permissions(0x7755)); // www-data reaches root/ and lock/
    const QString users = base.filePath(QStringLiteral("users"));
    if (sh(QStringLiteral("htpasswd -cbB %1 %2 %3 2>/dev/null").arg(users, user_, password_)).isNull() ||
        (tls && !prepareTls()) ||
        ::chown(QFile::encodeName(root()).constData(), www->pw_uid, www->pw_gid) != 0 ||
        ::chown(QFile::encodeName(base.filePath(QStringLiteral("lock"))).constData(), www->pw_uid,
                www->pw_gid) != 0) {
        failure_ = failure_.isEmpty() ? QStringLiteral("cannot prepare the folders for apache2") : failure_;
        return;
    }
    QFile::setPermissions(users, QFile::Permissions(0x6644));
    const quint16 port = closedPort();
    QString conf =
        QStringLiteral("Listen 127.0.0.1:%1\nServerName 127.0.0.1\nServerRoot %2\nPidFile %2/pid\n"
                       "Mutex file:%2\nErrorLog %2/error.log\nLogFormat \"%r %>s\" plain\n"
                       "CustomLog %2/log plain\nUser www-data\nGroup www-data\nDAVLockDB %2/lock/db\n")
            .arg(port)
            .arg(dir_.path());
    for (const char* m : {"mpm_event", "authz_core", "authn_core", "authn_file", "authz_user", "auth_basic",
                          "dav", "dav_fs", "alias", "allowmethods", "socache_shmcb", "ssl"})
        conf +=
            QStringLiteral("LoadModule %1_module /usr/lib/apache2/modules/mod_%1.so\n").arg(QLatin1String(m));
    if (tls)
        conf += QStringLiteral("SSLEngine on\nSSLCertificateFile %1\nSSLCertificateKeyFile %2\n")
                    .arg(certFile(), keyFile());
    conf += QStringLiteral("Alias /dav %1\n<Directory %1>\nDAV On\nAuthType Basic\nAuthName camera\n"
                           "AuthUserFile %2\nRequire valid-user\n%3</Directory>\n")
                .arg(root(), users,
                     refuseMove ? QStringLiteral("AllowMethods GET HEAD PUT DELETE PROPFIND MKCOL OPTIONS\n")
                                : QString());
    const QString confFile = base.filePath(QStringLiteral("httpd.conf"));
    if (!writeFile(confFile, conf.toUtf8())) {
        failure_ = QStringLiteral("cannot write the apache2 configuration");
        return;
    }
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    port_ = startListening(process_, QStringLiteral("/usr/sbin/apache2"),
                           {QStringLiteral("-X"), QStringLiteral("-f"), confFile}, port);
    if (!port_)
        failure_ = QStringLiteral("apache2 did not start: ") +
                   QString::fromUtf8(readFile(base.filePath(QStringLiteral("error.log"))));
}

RcloneDavServer::RcloneDavServer(int bytesPerSecond) {
    user_ = QStringLiteral("cam");
    password_ = QStringLiteral("secret");
    address_ = QStringLiteral("dav://127.0.0.1");
    unavailable_ = !QFile::exists(QStringLiteral("/usr/bin/rclone"));
    failure_ = QStringLiteral("rclone did not start (is /usr/bin/rclone there?)");
    const QString config = dir_.filePath(QStringLiteral("rclone.conf"));
    if (unavailable_ || !QDir(dir_.path()).mkpath(QStringLiteral("root")) || !writeFile(config, {}))
        return;
    const quint16 port = closedPort();
    QStringList args = QStringLiteral("serve webdav --user cam --pass secret --config").split(u' ');
    args << config << QStringLiteral("--addr") << QStringLiteral("127.0.0.1:%1").arg(port);
    if (bytesPerSecond > 0)
        args << QStringLiteral("--bwlimit") << QString::number(bytesPerSecond / 1024) + QLatin1Char('k');
    process_.setStandardErrorFile(QProcess::nullDevice());
    port_ = startListening(process_, QStringLiteral("/usr/bin/rclone"), args << root(), port);
}

S3Server::S3Server(const QString& region) {
    user_ = QStringLiteral("AKIDZANTREL"); // the script's default account
    password_ = QStringLiteral("s3cr3t/key+value");
    address_ = QStringLiteral("s3+http://127.0.0.1/cam");
    logLine_.setPattern(QStringLiteral("^(.+)$"));
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    port_ = startPython(process_, {QStringLiteral(ZANTREL_TEST_DATA_DIR "/s3_server.py"),
                                   QStringLiteral("--root"), root(), QStringLiteral("--region"), region,
                                   QStringLiteral("--log"), dir_.filePath(QStringLiteral("log"))});
    failure_ = QStringLiteral("the S3 server did not start (python3-botocore?)");
}

} // namespace zantrel::test
