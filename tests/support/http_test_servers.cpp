#include "support/http_test_servers.h"

#include "support/ftp_test_files.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

namespace zantrel::test {

ApacheDavServer::ApacheDavServer(bool tls, bool refuseMove, bool digest) {
    user_ = QStringLiteral("cam");
    password_ = QStringLiteral("secret");
    address_ = QLatin1String(tls ? "davs" : "dav") + QStringLiteral("://127.0.0.1/dav");
    unavailable_ = !QFile::exists(QStringLiteral("/usr/sbin/apache2")) || geteuid() != 0;
    failure_ = QStringLiteral("apache2 did not start (it needs /usr/sbin/apache2, root and www-data)");
    const QString base = dir_.path();
    if (unavailable_ || sh(QStringLiteral("mkdir -p %1/root %1/lock && chown www-data: %1/root %1/lock && "
                                          "chmod 755 %1 && htpasswd -cbB %1/users cam secret 2>/dev/null && "
                                          "echo \"cam:cam:$(printf cam:cam:secret | md5sum | cut -c1-32)\" "
                                          "> %1/digest")
                               .arg(base))
                            .isNull())
        return;
    const quint16 port = closedPort();
    QString conf =
        QStringLiteral("Listen 127.0.0.1:%1\nServerName 127.0.0.1\nServerRoot %2\nPidFile %2/pid\n"
                       "Mutex file:%2\nErrorLog %2/error.log\nUser www-data\nGroup www-data\n"
                       "DAVLockDB %2/lock/db\nAlias /dav %2/root\n<Directory %2/root>\nDAV On\n"
                       "AuthType %4\nAuthName cam\nAuthUserFile %2/%5\nRequire valid-user\n%3"
                       "</Directory>\n")
            .arg(port)
            .arg(base, QLatin1String(refuseMove ? "AllowMethods GET PUT DELETE PROPFIND MKCOL\n" : ""),
                 QLatin1String(digest ? "Digest" : "Basic"), QLatin1String(digest ? "digest" : "users"));
    for (const char* m : {"mpm_event", "authz_core", "authn_core", "authn_file", "authz_user", "auth_basic",
                          "auth_digest", "dav", "dav_fs", "alias", "allowmethods", "socache_shmcb", "ssl"})
        conf +=
            QStringLiteral("LoadModule %1_module /usr/lib/apache2/modules/mod_%1.so\n").arg(QLatin1String(m));
    if (tls &&
        (pin_ = selfSignedCertificate(base + QStringLiteral("/key.pem"), base + QStringLiteral("/cert.pem")))
            .isEmpty())
        return;
    if (tls)
        conf +=
            QStringLiteral("SSLEngine on\nSSLCertificateFile %1/cert.pem\nSSLCertificateKeyFile %1/key.pem\n")
                .arg(base);
    if (!writeFile(base + QStringLiteral("/httpd.conf"), conf.toUtf8()))
        return;
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    port_ = startListening(process_, QStringLiteral("/usr/sbin/apache2"),
                           {QStringLiteral("-X"), QStringLiteral("-f"), base + QStringLiteral("/httpd.conf")},
                           port);
}

NginxDavServer::NginxDavServer(bool refuseMove) {
    user_ = QStringLiteral("cam");
    password_ = QStringLiteral("secret");
    address_ = QStringLiteral("dav://127.0.0.1");
    const QString module = QStringLiteral("/usr/lib/nginx/modules/ngx_http_dav_ext_module.so");
    unavailable_ = !QFile::exists(QStringLiteral("/usr/sbin/nginx")) || !QFile::exists(module);
    failure_ = QStringLiteral("nginx did not start (nginx-light and libnginx-mod-http-dav-ext?)");
    const QString base = dir_.path();
    if (unavailable_ || !QDir(base).mkpath(QStringLiteral("root")) ||
        !QDir(base).mkpath(QStringLiteral("tmp")) ||
        sh(QStringLiteral("htpasswd -cb %1/users cam secret 2>/dev/null").arg(base)).isNull())
        return;
    const quint16 port = closedPort();
    QString temp;
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        temp += QStringLiteral("%1_temp_path %2/tmp/%1;\n").arg(QLatin1String(kind), base);
    // A single process as the user running the test; files as that user can read them.
    const QString conf =
        QStringLiteral(
            "load_module %1;\ndaemon off;\nmaster_process off;\npid %2/pid;\nerror_log %2/error.log;\n"
            "events {}\nhttp {\naccess_log %2/log;\n%3server {\nlisten 127.0.0.1:%4;\n"
            "location / {\nroot %2/root;\ndav_methods PUT DELETE MKCOL%5;\n"
            "dav_ext_methods PROPFIND OPTIONS;\ndav_access user:rw group:r all:r;\n"
            "client_max_body_size 0;\nauth_basic cam;\nauth_basic_user_file %2/users;\n}\n}\n}\n")
            .arg(module, base, temp)
            .arg(port)
            .arg(QLatin1String(refuseMove ? "" : " COPY MOVE"));
    if (!writeFile(base + QStringLiteral("/nginx.conf"), conf.toUtf8()))
        return;
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    port_ = startListening(process_, QStringLiteral("/usr/sbin/nginx"),
                           {QStringLiteral("-c"), base + QStringLiteral("/nginx.conf"), QStringLiteral("-e"),
                            base + QStringLiteral("/error.log")},
                           port);
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
    failure_ = QStringLiteral("the S3 server did not start (python3-botocore?)");
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    port_ = startPython(process_, {QStringLiteral(ZANTREL_TEST_DATA_DIR "/s3_server.py"),
                                   QStringLiteral("--root"), root(), QStringLiteral("--region"), region,
                                   QStringLiteral("--log"), dir_.filePath(QStringLiteral("log"))});
}

} // namespace zantrel::test
