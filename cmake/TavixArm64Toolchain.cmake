# Cross build for 64-bit Arm Linux on an x86_64 Debian 12 machine (the "arm64" preset).
#
# Debian's multiarch layout needs no separate sysroot: the ":arm64" packages of Qt, libudev and
# zlib put their headers and libraries beside the build machine's, in folders named for the
# target (/usr/include/aarch64-linux-gnu, /usr/lib/aarch64-linux-gnu), where the cross compiler
# and CMake's searches for that library architecture look. Qt's code generators (moc, rcc, uic)
# are programs of the build machine: they come from the native Qt packages.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR "/usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake")

# qemu-user runs the target's programs here; CTest starts every test executable through it.
# The loader and libc of Debian's libc6:arm64 lie where an arm64 program asks for them
# (/lib/ld-linux-aarch64.so.1) and the dynamic linker's cache lists /usr/lib/aarch64-linux-gnu,
# so no library path needs to be given.
find_program(TAVIX_QEMU_AARCH64 qemu-aarch64-static)
if(TAVIX_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${TAVIX_QEMU_AARCH64}")
endif()
