#include "gallery/caption_pictures.h"

#include <QPainter>
#include <QToolButton>

namespace zantrel {

QIcon CaptionIcon(const QString& name) {
    QPixmap pixmap(12, 10);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(Qt::black, 1));
    if (name == QLatin1String("close")) {
        p.drawLine(2, 1, 9, 8);
        p.drawLine(9, 1, 2, 8);
    } else if (name == QLatin1String("maximize")) {
        p.drawRect(1, 0, 9, 8);
        p.drawLine(1, 1, 10, 1);
    } else if (name == QLatin1String("restore")) {
        p.drawRect(3, 0, 7, 5);
        p.drawRect(1, 3, 7, 5);
    }
    return QIcon(pixmap);
}

void SetCaptionPicture(QToolButton* button, const QString& name) {
    button->setIcon(CaptionIcon(name));
    button->setProperty("picture", name);
    if (button->toolTip().isEmpty())
        button->setAccessibleName(name.left(1).toUpper() + name.mid(1));
}

QString CaptionPictureName(const QToolButton* button) {
    return button ? button->property("picture").toString() : QString();
}

} // namespace zantrel
