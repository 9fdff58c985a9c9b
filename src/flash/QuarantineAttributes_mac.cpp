#include "flash/QuarantineAttributes.h"

#include <QFile>

#include <sys/xattr.h>

namespace tavix {

void removeQuarantineAttributes(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    removexattr(encoded.constData(), "com.apple.quarantine", 0);
    removexattr(encoded.constData(), "com.apple.provenance", 0);
}

}  // namespace tavix
