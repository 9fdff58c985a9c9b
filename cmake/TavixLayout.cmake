# The build tree mirrors what a user gets: the programs in bin/, and beside them the
# resource folder that the app searches first (the installed app uses ../share/tavix-flash-tool).
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
set(TAVIX_RESOURCE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/bin/resources")
file(MAKE_DIRECTORY "${TAVIX_RESOURCE_OUTPUT_DIR}")

# Resource names: the firmware image and the flasher build for this processor.
set(TAVIX_FIRMWARE_NAME "UIFlow-core2-Tavix-V2.2-0x0.bin")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    set(TAVIX_ESPTOOL_RESOURCE_NAME "esptool_arm64")
else()
    set(TAVIX_ESPTOOL_RESOURCE_NAME "esptool_amd64")
endif()

# Folder where a developer may drop resources by hand (a real image, Espressif's own flasher).
set(TAVIX_SOURCE_RESOURCE_DIR "${PROJECT_SOURCE_DIR}/resources")
