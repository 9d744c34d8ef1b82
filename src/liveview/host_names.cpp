#include "liveview/host_names.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>

namespace zantrel {

namespace {

// "name", "name:port", "[v6]:port" or "v6" → the name or address alone, in lower case, without a final
// dot; empty when it is none of those.
QString hostOnly(QString host) {
    host = host.trimmed().toLower();
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype end = host.indexOf(QLatin1Char(']'));
        return end < 0 ? QString() : host.mid(1, end - 1);
    }
    if (host.count(QLatin1Char(':')) == 1)
        host = host.left(host.indexOf(QLatin1Char(':')));
    while (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

} // namespace

QStringList ParseHostList(const QString& setting) {
    QStringList names;
    for (const QString& item :
         setting.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts))
        if (const QString name = hostOnly(item); !name.isEmpty())
            names << name;
    return names;
}

HostNames::HostNames(const QStringList& listed) {
    const QString machine = QHostInfo::localHostName().toLower();
    const QString domain = QHostInfo::localDomainName().toLower();
    if (!machine.isEmpty()) {
        names_ << machine << machine + QStringLiteral(".local");
        if (!domain.isEmpty())
            names_ << machine + QLatin1Char('.') + domain;
    }
    for (const QString& name : listed)
        names_ << hostOnly(name);
}

bool HostNames::allowed(const char* host) const {
    if (!host)
        return true;
    const QString name = hostOnly(QString::fromLatin1(host));
    if (name.isEmpty())
        return false;
    if (!QHostAddress(name).isNull())
        return true;
    return name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")) ||
           names_.contains(name);
}

} // namespace zantrel
