#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>

namespace zantrel {

// Where the running program keeps its state for `--status`: $XDG_RUNTIME_DIR/webcam-zantrel/state.json
// (/run/user/UID when the variable is not set and that folder is the user's), or next to the settings
// file when there is no runtime folder. A named instance's is webcam-zantrel/instances/NAME/state.json,
// or next to its own settings file.
QString StateDocumentPath();
QString StateDocumentPath(const QString& instance);

// Replaces the document at path in one step, in a folder made the user's alone. False when it cannot.
bool WriteStateDocument(const QString& path, const QByteArray& json);

// What `--status` says of the instance that wrote the document: every line, and a summary (the first
// line and the verdict). code: 0 when it runs and nothing is wrong, 1 when a condition is under way or a
// warning stands (the live view not running), 2 when no instance runs (no document, or its process has
// gone).
struct StatusReport {
    int code = 2;
    QStringList lines;
    QStringList summary;
};
StatusReport ReadStatus(const QString& path);

// `--status --instance NAME`, or with only the default instance running: every line of the report to
// out; returns its code.
int PrintStatus(const QString& path, std::FILE* out);

// `--status` without --instance: a line for each instance that runs ("gate: Running, process 12, ...;
// Healthy"), the worst of their codes. Where no named instance runs, the default one's report.
int PrintEveryInstanceStatus(std::FILE* out);

} // namespace zantrel
