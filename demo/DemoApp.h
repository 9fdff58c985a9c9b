#pragma once

namespace tavix {

// The demo program: options, the application object, one DemoSession, the event loop.
class DemoApp
{
public:
    // Runs the demo until its window is closed; the process's exit status (2: a usage error).
    static int main(int argc, char* argv[]);
};

}  // namespace tavix
