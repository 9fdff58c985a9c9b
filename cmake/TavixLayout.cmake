# The build tree mirrors what a user gets: the programs in bin/, and the resource folder the app
# searches first. On Linux that is bin/resources beside the executable (installed:
# ../share/tavix-flash-tool); on macOS the app is a bundle, and its resources are built straight
# into the bundle's Contents/Resources, where the app finds them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
if(APPLE)
    set(TAVIX_APP_BUNDLE_NAME "Tavix Flash Tool")
    set(TAVIX_RESOURCE_OUTPUT_DIR
        "${CMAKE_BINARY_DIR}/bin/${TAVIX_APP_BUNDLE_NAME}.app/Contents/Resources")
else()
    set(TAVIX_RESOURCE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/bin/resources")
endif()
file(MAKE_DIRECTORY "${TAVIX_RESOURCE_OUTPUT_DIR}")

# Resource names: the firmware image and the flasher built for this processor, under the name
# the engine asks for when it runs there ("arm64" and "aarch64" alike give esptool_arm64).
set(TAVIX_FIRMWARE_NAME "UIFlow-core2-Tavix-V2.2-0x0.bin")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    set(TAVIX_ESPTOOL_RESOURCE_NAME "esptool_arm64")
else()
    set(TAVIX_ESPTOOL_RESOURCE_NAME "esptool_amd64")
endif()

# Folder where a developer may drop resources by hand (a real image, Espressif's own flasher).
set(TAVIX_SOURCE_RESOURCE_DIR "${PROJECT_SOURCE_DIR}/resources")
