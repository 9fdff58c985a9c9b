#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace esptool::deflate {

// A zlib stream (header and Adler-32 trailer) at the best compression: what FLASH_DEFL_DATA
// carries.
QByteArray compress(QByteArrayView data);

// How many bytes each `blockSize` piece of the zlib stream inflates to. The ROM inflates and
// writes a piece before it answers, so a piece's timeout scales with this, not with its size.
QList<quint32> inflatedSizes(QByteArrayView compressed, qsizetype blockSize);

}  // namespace esptool::deflate
