#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

namespace zantrel {

// Where the running program keeps its state for `--status`: $XDG_RUNTIME_DIR/webcam-zantrel/state.json
// (/run/user/UID when the variable is not set and that folder is the user's), or next to the settings
// file when there is no runtime folder.
QString StateDocumentPath();

// Replaces the document at path in one step, in a folder made the user's alone. False when it cannot.
bool WriteStateDocument(const QString& path, const QByteArray& json);

// `--status`: prints the state of the instance that wrote the document to out. 0 when it runs and
// nothing is wrong, 1 when a condition is under way or a warning stands (the live view not running), 2
// when no instance runs (no document, or its process has gone).
int PrintStatus(const QString& path, std::FILE* out);

} // namespace zantrel
