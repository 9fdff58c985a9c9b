#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tavix {

// A fault of a real line or board that the simulated board commits on request, so that the
// window shows what a user would see: the flasher recovering, or its error and hint.
struct DemoFault
{
    QString name;  // what --fault takes
    QString shows;
    QStringList simulatorOptions;
    // The link drops and may come back; it then needs a stable path of its own.
    bool needsStablePath = false;
};

const QList<DemoFault>& demoFaults();
std::optional<DemoFault> findDemoFault(const QString& name);

}  // namespace tavix
