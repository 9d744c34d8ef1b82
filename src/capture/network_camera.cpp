#include "capture/network_camera.h"

#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace zantrel {

namespace {

// The most saved cameras read, however large NETCAM/COUNT is.
constexpr std::int32_t kMaxCameras = 1000;

QString readField(const keys::SettingKey& field, std::int64_t n) {
    return GetSetting(QString::fromLatin1(field.section), serverEntryKey(field, n),
                      QString::fromLatin1(field.fallback));
}

} // namespace

bool IsCameraAddress(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text.trimmed()).hasMatch();
}

CameraAddress ParseCameraAddress(const NetworkCamera& camera) {
    CameraAddress out;
    const QString text = camera.url.trimmed();
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!IsCameraAddress(text) || !url.isValid() || url.host().isEmpty()) {
        out.error = QStringLiteral("the camera address is not a valid address");
        return out;
    }
    if (scheme == QLatin1String("rtsp"))
        out.kind = CameraAddress::Kind::Rtsp;
    else if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        out.kind = CameraAddress::Kind::Http;
    else {
        out.error = QStringLiteral("the camera address starts with %1://, not rtsp://, http:// or https://")
                        .arg(scheme.left(16));
        return out;
    }
    out.login = url.userName(QUrl::FullyDecoded);
    out.password = url.password(QUrl::FullyDecoded);
    if (!camera.login.isEmpty() || !camera.password.isEmpty()) {
        out.login = camera.login;
        const SecretLookup password =
            ResolveSecret(camera.password, {QStringLiteral("NETCAM"), QStringLiteral("PASSWORD"),
                                            url.adjusted(QUrl::RemoveUserInfo).host(), camera.login});
        out.password = password.value;
        if (!password.refusal.isEmpty()) {
            out.error = password.refusal;
            return out;
        }
    }
    out.location = url.adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded);
    return out;
}

QString PrintableAddress(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("(unusable address)");
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

QString CameraLabel(const NetworkCamera& camera) {
    return camera.name.trimmed().isEmpty() ? PrintableAddress(camera.url) : camera.name.trimmed();
}

std::vector<NetworkCamera> ReadNetworkCameras() {
    const std::int32_t count = std::clamp(ReadInt32(keys::NetcamCount), 0, kMaxCameras);
    std::vector<NetworkCamera> cameras;
    for (std::int32_t n = 1; n <= count; ++n) {
        NetworkCamera camera{readField(keys::NetcamEntryName, n), readField(keys::NetcamEntryUrl, n),
                             readField(keys::NetcamEntryLogin, n), readField(keys::NetcamEntryPassword, n)};
        if (!camera.url.trimmed().isEmpty())
            cameras.push_back(std::move(camera));
    }
    return cameras;
}

void SaveNetworkCameras(const std::vector<NetworkCamera>& cameras) {
    const QString section = QString::fromLatin1(keys::NetcamCount.section);
    const std::int32_t before = std::clamp(ReadInt32(keys::NetcamCount), 0, kMaxCameras);
    for (std::int32_t n = std::int32_t(cameras.size()) + 1; n <= before; ++n) {
        for (const auto* field : {&keys::NetcamEntryName, &keys::NetcamEntryUrl, &keys::NetcamEntryLogin,
                                  &keys::NetcamEntryPassword})
            RemoveSetting(section, serverEntryKey(*field, n));
    }
    std::int64_t n = 0;
    for (const NetworkCamera& camera : cameras) {
        ++n;
        SaveSetting(section, serverEntryKey(keys::NetcamEntryName, n), camera.name);
        SaveSetting(section, serverEntryKey(keys::NetcamEntryUrl, n), camera.url);
        SaveSetting(section, serverEntryKey(keys::NetcamEntryLogin, n), camera.login);
        SaveSetting(section, serverEntryKey(keys::NetcamEntryPassword, n), camera.password);
    }
    SaveSetting(keys::NetcamCount, NumberText(std::int64_t(cameras.size())));
}

} // namespace zantrel
