#include "transfer/http_targets.h"

#include "transfer/server_address.h"
#include "transfer/server_upload.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace zantrel {

namespace {

const QByteArray kEmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

} // namespace

HttpTarget::HttpTarget(const ServerEntry& entry, StatusSink& status)
    : SteppedTarget(entry, status), session_(entry),
      tls_(TargetScheme(entry.address) != QLatin1String("dav") &&
           TargetScheme(entry.address) != QLatin1String("s3+http")) {
    session_.setStopped([this] { return stopped(); });
    session_.setProgress([this](qint64 sent) { progress(sent, false); });
    session_.setConnected([this] { status_.setStatus(QStringLiteral("Connected")); });
}

bool HttpTarget::connect() {
    // The connection opens with the first request; "Connected" is said once it is up.
    status_.setStatus(QStringLiteral("Connecting... ") + ShownAddress(entry_.address));
    session_.setLimits(limits());
    session_.sayConnectedAgain();
    last_ = {};
    QString error;
    if (usable(error))
        return true;
    status_.setStatus(QStringLiteral("Error:") + error);
    return false;
}

bool HttpTarget::usable(QString& error) {
    if (HasControlCharacter(entry_.login) || HasControlCharacter(entry_.password) ||
        HasControlCharacter(entry_.directory)) {
        error = QStringLiteral("The user name, password or folder holds a control character");
        return false;
    }
    address_ = ParseHttpAddress(entry_.address, entry_.port, tls_, error);
    return error.isEmpty() && prepare(error);
}

void HttpTarget::disconnect() {
    session_.close();
    status_.setStatus(QStringLiteral("End Transfering"));
}

bool HttpTarget::worthRetrying() const {
    return WorthRetrying(last_.code) || last_.status == 502 || last_.status == 503 || last_.status == 504;
}

HttpSession::Reply HttpTarget::request(const QByteArray& method, const QByteArray& url,
                                       const QList<QByteArray>& headers, const QByteArray& body,
                                       bool hasBody) {
    last_ = session_.perform(method, url, headers, body, hasBody);
    return last_;
}

bool HttpTarget::fail() {
    status_.setStatus(QStringLiteral("Error:") + reasonOf(last_));
    return false;
}

QString HttpTarget::reasonOf(const HttpSession::Reply& reply) {
    if (reply.code == CURLE_PEER_FAILED_VERIFICATION || reply.code == CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
        const QString pin = seenPin_ = session_.certificatePin(address_.origin);
        if (reply.code == CURLE_SSL_PINNEDPUBKEYNOTMATCH)
            return QStringLiteral("The certificate of %1 does not match the stored pin; it shows %2")
                .arg(address_.host, pin.isEmpty() ? QStringLiteral("another key") : pin);
        return QStringLiteral("The certificate of %1 is not trusted by this system. To trust exactly this "
                              "key, store its pin for the server: %2")
            .arg(address_.host, pin.isEmpty() ? QStringLiteral("(not readable)") : pin);
    }
    if (reply.basicOnly)
        return reply.text() + QStringLiteral(": the server asks for the password in plain text (Basic "
                                             "login), which goes only over HTTPS: use davs://");
    if (reply.status == 401)
        return reply.text() + QStringLiteral(": check the login and password");
    return reply.text();
}

ServerCheckResult HttpTarget::checkWith(const QByteArray& method, const QList<QByteArray>& headers) {
    ServerCheckResult result;
    session_.setLimits(limits());
    if (!usable(result.message))
        return result;
    const HttpSession::Reply reply = request(method, checkUrl(), headers);
    session_.close();
    result.ok = reply.ok();
    if (!result.ok)
        result.message = reply.status
                             ? QStringLiteral("Connected, but the server answered: ") + reasonOf(reply)
                             : QStringLiteral("Cannot connect: ") + reasonOf(reply);
    result.fingerprint = seenPin_;
    return result;
}

bool DavTarget::prepare(QString& error) {
    folder_ = FolderSegments(entry_.directory);
    QByteArray folder;
    if (!EncodePath(address_.path, addressPath_, error) || !EncodePath(folder_, folder, error))
        return false;
    folderUrl_ = address_.origin + addressPath_ + folder;
    return true;
}

bool DavTarget::fileUrl(const QString& name, QByteArray& url) {
    QString error;
    QByteArray path;
    if (!EncodePath({name}, path, error)) {
        status_.setStatus(QStringLiteral("Error:") + error);
        return false;
    }
    url = folderUrl_ + path;
    return true;
}

bool DavTarget::makeFolders() {
    QByteArray url = address_.origin + addressPath_;
    QString error;
    for (const QString& level : folder_) {
        QByteArray segment;
        EncodePath({level}, segment, error);
        url += segment;
        const HttpSession::Reply reply = request("MKCOL", url + '/');
        if (!reply.ok() && reply.status != 405) // 405: it is there already
            return false;
    }
    return true;
}

bool DavTarget::connect() {
    folderKnown_ = false;
    return HttpTarget::connect();
}

bool DavTarget::folderMissing() {
    // 409 (RFC 4918), or 404 with some servers: the folder is missing. Others answer 500 (nginx) or
    // whatever else: the folder is asked for. A refused login is no sign of a missing folder.
    if (last_.status == 409 || last_.status == 404)
        return true;
    if (last_.status == 0 || last_.status == 401 || last_.status == 407)
        return false;
    const HttpSession::Reply put = last_;
    const HttpSession::Reply there = request("PROPFIND", folderUrl_ + '/', {"Depth: 0"});
    folderKnown_ = there.ok();
    if (there.status == 404 || there.status == 409)
        return true;
    last_ = put; // the failure to report
    return false;
}

bool DavTarget::upload(const QByteArray& bytes, const QString& name) {
    QByteArray url;
    if (!fileUrl(name, url))
        return false;
    // The type of the picture, also for its ".part" (servers that keep a type keep it through the MOVE).
    const QString part = QStringLiteral(".part");
    const QList<QByteArray> headers{"Content-Type: " +
                                    ContentTypeFor(name.endsWith(part) ? name.chopped(part.size()) : name)};
    request("PUT", url, headers, bytes, true);
    if (!last_.ok() && !folderKnown_ && !folder_.isEmpty() && folderMissing()) {
        if (!makeFolders())
            return fail();
        request("PUT", url, headers, bytes, true);
    }
    if (!last_.ok())
        return fail();
    folderKnown_ = true;
    progress(bytes.size(), true);
    return true;
}

SteppedTarget::Replaced DavTarget::replace(const QString& from, const QString& to) {
    QByteArray source, target;
    if (!fileUrl(from, source) || !fileUrl(to, target))
        return Replaced::Failed;
    request("MOVE", source, {"Destination: " + target, "Overwrite: T"});
    if (last_.ok())
        return Replaced::Yes;
    // A server without MOVE. A 403 is a refusal of this one move (rights, quota): the user reads it.
    if (last_.status == 405 || last_.status == 501)
        return Replaced::Refused;
    fail();
    return Replaced::Failed;
}

void DavTarget::discard(const QString& name) {
    QByteArray url;
    // Only where the server answered: one that cannot be reached costs the job no further wait.
    if (last_.status != 0 && fileUrl(name, url))
        request("DELETE", url);
}

ServerCheckResult DavTarget::check() {
    const QString folder = entry_.directory.isEmpty() ? QStringLiteral("the address's folder")
                                                      : QStringLiteral("folder ") + entry_.directory;
    ServerCheckResult result = checkWith("PROPFIND", {"Depth: 0"});
    if (result.ok) {
        result.message = QStringLiteral("Connected, %1 is there").arg(folder);
    } else if (last_.status == 404 && !folder_.isEmpty()) {
        // The first upload makes the entry's folder, below the address's own one, which must be there.
        const bool base = request("PROPFIND", address_.origin + addressPath_ + '/', {"Depth: 0"}).ok();
        session_.close();
        if (base) {
            result.ok = true;
            result.message =
                QStringLiteral("Connected; %1 does not exist yet: the first upload makes it").arg(folder);
        }
    }
    return result;
}

bool ValidBucketName(const QString& name) {
    static const QRegularExpression rule(QStringLiteral("^[a-z0-9][a-z0-9.-]{1,61}[a-z0-9]$"));
    return rule.match(name).hasMatch() && !name.contains(QLatin1String(".."));
}

bool S3Target::prepare(QString& error) {
    const QString bucket = address_.path.value(0);
    if (address_.path.size() != 1 || !ValidBucketName(bucket)) {
        error = QStringLiteral("The address must name one bucket after the host (s3://endpoint/bucket), of "
                               "3 to 63 lower-case letters, digits, dots and hyphens");
        return false;
    }
    static const QRegularExpression regionRule(QStringLiteral("^[a-z0-9-]{1,32}$"));
    const QString region = entry_.region.isEmpty() ? QStringLiteral("us-east-1") : entry_.region;
    if (!regionRule.match(region).hasMatch()) {
        error = QStringLiteral("The region must be lower-case letters, digits and hyphens (us-east-1, auto)");
        return false;
    }
    if (!EncodePath(FolderSegments(entry_.directory), prefix_, error))
        return false;
    bucketUrl_ = address_.origin + '/' + bucket.toLatin1();
    session_.signWith("aws:amz:" + region.toLatin1() + ":s3");
    return true;
}

bool S3Target::upload(const QByteArray& bytes, const QString& name) {
    QString error;
    QByteArray path;
    if (!EncodePath({name}, path, error)) {
        status_.setStatus(QStringLiteral("Error:") + error);
        return false;
    }
    // libcurl signs the hash it is given; without it, it would sign the hash of an empty body.
    request("PUT", bucketUrl_ + prefix_ + path,
            {"x-amz-content-sha256: " + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
             "Content-Type: " + ContentTypeFor(name), "Cache-Control: max-age=10"},
            bytes, true);
    if (!last_.ok())
        return fail();
    progress(bytes.size(), true);
    return true;
}

QString S3Target::reasonOf(const HttpSession::Reply& reply) {
    QString code, message;
    QXmlStreamReader xml(reply.body);
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("Error"))
            continue; // into it
        if (xml.name() == QLatin1String("Code"))
            code = xml.readElementText();
        else if (xml.name() == QLatin1String("Message"))
            message = xml.readElementText();
        else
            xml.skipCurrentElement();
    }
    QString text = HttpTarget::reasonOf(reply);
    if (!code.isEmpty())
        text +=
            QStringLiteral(": ") + code + (message.isEmpty() ? QString() : QStringLiteral(": ") + message);
    return OneLine(text);
}

ServerCheckResult S3Target::check() {
    ServerCheckResult result = checkWith("HEAD", {"x-amz-content-sha256: " + kEmptySha256});
    if (result.ok)
        result.message = QStringLiteral("Connected, bucket %1 takes the key").arg(address_.path.value(0));
    return result;
}

} // namespace zantrel
