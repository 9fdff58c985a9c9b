#include "ui/AccessibilitySwitch.h"

#if defined(TAVIX_QPA_ACCESSIBILITY)
// Qt's own accessibility tests do the same; there is no public call for it.
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <private/qguiapplication_p.h>

bool switchAccessibilityOn()
{
    QPlatformAccessibility* accessibility =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    if (!accessibility)
        return false;
    accessibility->setActive(true);
    return true;
}
#else
bool switchAccessibilityOn()
{
    return false;
}
#endif
