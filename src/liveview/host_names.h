#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace zantrel {

// The names listed in HTTP/HOSTS: separated by commas or blanks, in lower case, without a port.
QStringList ParseHostList(const QString& setting);

// Which Host a live view without a login answers, so that a web page elsewhere cannot read it through a
// name of its own pointed at this machine (DNS rebinding): an address written as an address (no name to
// rebind), `localhost` and names below it, this machine's own names (its host name, with its domain and
// `.local`) and the names listed. A request without a Host (HTTP/1.0) is not from a browser and passes.
class HostNames {
  public:
    explicit HostNames(const QStringList& listed = {});
    bool allowed(const char* host) const;

  private:
    QSet<QString> names_;
};

} // namespace zantrel
