#pragma once

#include <memory>

namespace tavix {

class MainWindow;

// The application: one window, the light look, the event loop.
class tavix_flash_toolApp
{
public:
    // Makes the window; the application object must exist and the look must be settled.
    static std::unique_ptr<MainWindow> body();
    // Runs the app until its window is closed; the process's exit status.
    static int main(int argc, char* argv[]);
};

}  // namespace tavix
