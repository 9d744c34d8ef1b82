#include "transfer/ftp_target.h"

namespace zantrel {

ServerUploadResult FtpTarget::deliver(const QByteArray& bytes, const QString& remoteName,
                                      const std::function<bool()>& cancelled) {
    ftp_.setLimits(limits());
    return UploadToServer(ftp_, status_, entry_, bytes, remoteName, cancelled);
}

void FtpTarget::stop() {
    UploadTarget::stop();
    ftp_.FtpDisconnect(); // from another thread only asks the running routine to end
}

} // namespace zantrel
