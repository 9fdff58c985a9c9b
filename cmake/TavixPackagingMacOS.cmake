# macOS: the app bundle is the install. Its resources (the flasher for this processor, the
# firmware image, the title image) are built into Contents/Resources already (TavixLayout), so
# installing the bundle installs them. cpack -G DragNDrop makes a disk image of it.
install(TARGETS tavix-flash-tool BUNDLE DESTINATION .)

set(CPACK_GENERATOR DragNDrop)
set(CPACK_PACKAGE_NAME "${TAVIX_APP_BUNDLE_NAME}")
set(CPACK_PACKAGE_VENDOR Tavix)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
include(CPack)
