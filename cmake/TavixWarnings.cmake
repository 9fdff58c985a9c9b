# Every target of the project links tavix_warnings: one place for warnings and Qt's safety switches.
add_library(tavix_warnings INTERFACE)
target_compile_options(tavix_warnings INTERFACE
    -Wall -Wextra -Wpedantic
    -Wnon-virtual-dtor -Woverloaded-virtual -Wshadow
    -Wcast-qual -Wformat=2 -Wimplicit-fallthrough)
target_compile_definitions(tavix_warnings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH
    QT_NO_KEYWORDS
    QT_STRICT_ITERATORS
    QT_DISABLE_DEPRECATED_UP_TO=0x060400)
