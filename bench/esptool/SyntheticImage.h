#pragma once

#include <QByteArray>

// Images that compress like real ESP32 applications (zlib level 9 leaves about 0.6 of them), for
// flashing tests and benchmarks that want realistic transfer sizes.
namespace SyntheticImage {

QByteArray application(qsizetype size, quint32 seed);

}  // namespace SyntheticImage
