#pragma once

#include "transfer/ftp_client.h"
#include "transfer/upload_target.h"

namespace zantrel {

// An FTP, FTPS or SFTP server: the program's FTP client and its upload routine (UploadToServer), with
// what they remember for the run (servers that refuse renames, FTPS entries kept passive).
class FtpTarget final : public UploadTarget {
  public:
    FtpTarget(const ServerEntry& entry, StatusSink& status) : UploadTarget(entry, status), ftp_(status) {}
    ServerUploadResult deliver(const QByteArray& bytes, const QString& remoteName,
                               const std::function<bool()>& cancelled) override;
    ServerCheckResult check() override { return CheckServer(entry_); }
    void stop() override;

  private:
    FtpClient ftp_;
};

} // namespace zantrel
