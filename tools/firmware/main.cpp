// tavix-firmware-gen OUTPUT: writes the demonstration firmware image (see README.md).

#include "DemoFirmware.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fputs("usage: tavix-firmware-gen OUTPUT\n", stderr);
        return 2;
    }
    const QByteArray image = demofirmware::build();
    QSaveFile file(args.at(1));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        std::fprintf(stderr, "tavix-firmware-gen: cannot write %s: %s\n",
                     args.at(1).toLocal8Bit().constData(),
                     file.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
