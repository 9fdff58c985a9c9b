#pragma once

#include <QByteArray>

// Images that compress like real ESP32 applications (zlib level 9 leaves about 0.6 of them), for
// flashing tests and benchmarks that want realistic transfer sizes.
namespace synthetic {

QByteArray application(qsizetype size, quint32 seed);

// A whole flash as a merged image lays it out: bootloader, partition table, erased NVS, an
// application (about half), a data partition of repeated records, and erased space.
QByteArray merged(qsizetype size, quint32 seed);

}  // namespace synthetic
