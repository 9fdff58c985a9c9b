#pragma once

#include <QObject>

class QApplication;

namespace tavix {

// Settles the app's look before its window exists: the light Fusion look whatever the desktop's
// dark setting, because the window's colours are made for a light background.
class AppDelegate
{
public:
    // Does nothing unless given the application object.
    static void applicationWillFinishLaunching(QObject* object);
};

}  // namespace tavix
