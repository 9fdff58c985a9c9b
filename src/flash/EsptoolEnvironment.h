#pragma once

#include <QString>

namespace tavix {

// Where the engine looks for its resources and where it installs the flasher. The app takes these
// from the running system; tests point them at temporary folders.
struct EsptoolEnvironment
{
    // The app's resource folder: "resources" beside the executable in the build tree,
    // ../share/tavix-flash-tool when installed, ../Resources in a macOS app bundle. Empty when
    // none exists.
    QString resourceDirectory;
    // Resources a developer put into the source tree by hand; fixed at build time.
    QString sourceResourceDirectory;
    // Empty: the process's current directory at the time of each lookup.
    QString workingDirectory;
    // The per-user data folder; empty when the platform reports none.
    QString applicationSupportDirectory;
    QString temporaryDirectory;
    // The processor as the kernel names it ("x86_64", "aarch64", "arm64").
    QString machine;

    static EsptoolEnvironment fromSystem();
};

}  // namespace tavix
