#include "app/AppDelegate.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

using namespace Qt::StringLiterals;

namespace tavix {

void AppDelegate::applicationWillFinishLaunching(QObject* object)
{
    auto* application = qobject_cast<QApplication*>(object);
    if (!application || application != QCoreApplication::instance())
        return;
    QStyle* fusion = QStyleFactory::create(u"Fusion"_s);
    if (!fusion)
        return;
    QApplication::setStyle(fusion);
    // Fusion's own palette is light and ignores the desktop theme.
    QApplication::setPalette(fusion->standardPalette());
}

}  // namespace tavix
