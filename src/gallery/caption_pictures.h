#pragma once

#include <QIcon>
#include <QString>

class QToolButton;

namespace zantrel {

// The 12 × 10 pictures of the gallery's caption buttons by name: "close", "maximize", "restore".
QIcon CaptionIcon(const QString& name);

// Gives a caption button the named picture and remembers the name in its "picture" property.
void SetCaptionPicture(QToolButton* button, const QString& name);
QString CaptionPictureName(const QToolButton* button);

} // namespace zantrel
