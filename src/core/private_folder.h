#pragma once

#include <QString>

namespace zantrel {

// Makes `folder` the user's alone: the missing folders up to it are created 0700 whatever the umask, and
// the folder itself, when it is the user's but open to others (made by an older version under a wide
// umask, or by another program), is narrowed to 0700. False when it is no folder, cannot be made or
// belongs to another user: nothing private belongs in it then.
bool MakePrivateFolder(const QString& folder);

} // namespace zantrel
