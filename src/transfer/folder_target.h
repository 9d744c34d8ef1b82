#pragma once

#include "transfer/upload_target.h"

namespace zantrel {

// A folder on this machine ("file:///srv/www/cam"; URL is a folder below it): with ATOMIC on, the
// picture is written to an owner-only temporary file beside its name and renamed over it; with ATOMIC
// off it is written in place. Another user's links are not followed; a replaced file keeps its mode.
// Missing folders are not made: a share that is not mounted must not fill the folder beneath it.
class FolderTarget final : public UploadTarget {
  public:
    using UploadTarget::UploadTarget;
    ServerUploadResult deliver(const QByteArray& bytes, const QString& remoteName,
                               const std::function<bool()>& cancelled) override;
    ServerCheckResult check() override;

  private:
    // The folder the entry names, or an empty string with the reason in error.
    QString folder(QString& error) const;
};

} // namespace zantrel
