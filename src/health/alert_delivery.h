#pragma once

#include "health/health_events.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

namespace zantrel {

// The hook's JSON body: event, target, since, last_success, message, host and program (and condition).
QByteArray AlertJson(const HealthEvent& e);

struct DeliveryResult {
    bool ok = false;
    QString error; // plain words, never a password
};

// Why the hook cannot take alerts (empty when it can): a scheme other than http and https, no host.
QString WebhookProblem(const QString& url);

// POSTs the body to the hook, at most bound in all; a redirect is not followed. An answer other than
// 2xx fails. cancelled (the program closing) ends it at once. Blocks: call it off the UI thread.
DeliveryResult PostAlert(const QString& url, const QByteArray& json,
                         std::chrono::milliseconds bound = std::chrono::seconds(10),
                         const std::function<bool()>& cancelled = {});

// Where alert mails go, from the ALERT settings; caFile (tests) trusts that CA file instead of the system's.
struct MailSettings {
    QString to; // one address, or several separated by commas
    QString server;
    QString login;
    QString password;
    QString caFile;
    QString pin = {};          // "sha256//...": exactly this public key is trusted, whoever signed it
    QString passwordRefusal{}; // why the password could not be had (a credential file missing, say)
};
MailSettings ReadMailSettings();

// Why mails cannot be sent this way (empty when they can): a server other than smtps://host[:port] and
// smtp://host[:port] (which must then offer STARTTLS), no recipient, an address with blanks or controls,
// a pin that is not "sha256//" and base64.
QString MailProblem(const MailSettings& mail);

// Sends the event as a mail with the image attached (when there is one), the whole exchange encrypted
// (a plain smtp:// server that offers no STARTTLS gets nothing), at most bound in all.
DeliveryResult SendAlertMail(const MailSettings& mail, const HealthEvent& e, const QByteArray& jpeg,
                             std::chrono::milliseconds bound = std::chrono::seconds(60),
                             const std::function<bool()>& cancelled = {});

} // namespace zantrel
