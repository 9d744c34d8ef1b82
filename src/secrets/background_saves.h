#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace zantrel {

// Saving a password may take as long as the keyring's bound: the settings windows hand such saves over
// here. They run one at a time, in the order handed over, on a thread of their own, so the UI thread never
// waits on the keyring. A save handed over under a name replaces a save of that name that has not started
// (a field saved at every keystroke stores its last text). `then` runs on context's thread once the save
// (or the one that replaced it) has ended, unless context is gone by then. The program's end waits for
// the saves handed over.
void SaveInBackground(const QString& name, std::function<void()> save, QObject* context = nullptr,
                      std::function<void()> then = {});

// A password setting saved as SaveSetting would, in the background, named after its key.
void SavePasswordInBackground(const QString& section, const QString& key, const QString& value,
                              QObject* context = nullptr, std::function<void()> then = {});

// Blocks until every save handed over before has ended: for threads that may wait, never the UI thread.
void FinishBackgroundSaves();

} // namespace zantrel
