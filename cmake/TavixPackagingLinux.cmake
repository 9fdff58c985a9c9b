# Linux install layout: the app in bin/, its resources in share/tavix-flash-tool/ (found by the app
# relative to its own location, whatever the prefix), desktop integration files, and the udev
# rule that gives the seat's user access to ESP32 boards' USB serial adapters.
include(GNUInstallDirs)

set(TAVIX_INSTALL_RESOURCE_DIR "${CMAKE_INSTALL_DATADIR}/tavix-flash-tool")
set(linux_dir "${PROJECT_SOURCE_DIR}/resources/linux")

install(TARGETS tavix-flash-tool RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS esptool RUNTIME DESTINATION "${TAVIX_INSTALL_RESOURCE_DIR}")
install(FILES
    "${TAVIX_RESOURCE_OUTPUT_DIR}/${TAVIX_FIRMWARE_NAME}"
    "${TAVIX_RESOURCE_OUTPUT_DIR}/title.png"
    DESTINATION "${TAVIX_INSTALL_RESOURCE_DIR}")
install(FILES "${linux_dir}/com.tavix.FlashTool.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${linux_dir}/com.tavix.FlashTool.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${CMAKE_BINARY_DIR}/tools/tavix-flash-tool.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps")
# udev reads rules from <prefix>/lib/udev/rules.d, never from a multiarch library folder.
install(FILES "${linux_dir}/70-tavix-flash-tool.rules" DESTINATION "lib/udev/rules.d")

# cpack -G DEB (from the build folder) makes the Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavix-flash-tool)
set(CPACK_PACKAGE_VENDOR Tavix)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Write firmware to an ESP32 board over USB serial")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavix Flash Tool writes its bundled firmware image onto an ESP32 board connected through a\
 USB serial adapter, or erases the board's whole flash. It ships its own flasher for the\
 ESP32's ROM loader.")
set(CPACK_PACKAGE_CONTACT "Tavix Flash Tool developers <flash-tool@tavix.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Fonts are loaded at run time, so the library scan cannot see the need for them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${linux_dir}/debian/postinst;${linux_dir}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A cross build packages for its target, not for the machine that runs cpack. dpkg-shlibdeps finds
# the target's libraries by itself (the ":arm64" packages' symbols files, the library folders
# that libc6:arm64 adds to ld.so.conf); told the target architecture, it also reads the binaries
# with the target's objdump.
if(CMAKE_CROSSCOMPILING)
    find_program(TAVIX_DPKG_ARCHITECTURE dpkg-architecture REQUIRED)
    execute_process(
        COMMAND "${TAVIX_DPKG_ARCHITECTURE}" -t "${CMAKE_LIBRARY_ARCHITECTURE}" -q DEB_HOST_ARCH
        OUTPUT_VARIABLE tavix_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${tavix_deb_arch}")
    set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_BINARY_DIR}/CPackTargetArchitecture.cmake")
    file(CONFIGURE OUTPUT "${CPACK_PROJECT_CONFIG_FILE}"
        CONTENT "set(ENV{DEB_HOST_ARCH} \"${tavix_deb_arch}\")\n")
endif()
include(CPack)
