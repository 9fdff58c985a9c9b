#pragma once

#include <QObject>

namespace tavix {

// Tells the moment the system adds or removes a serial device, so that the port list need not
// wait for its next timed refresh. Each platform's lister may offer one; lives on the main thread.
class PortWatch : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~PortWatch() override;

Q_SIGNALS:
    // One or more serial devices came or went; several at once may come as one signal.
    void portsChanged();
};

}  // namespace tavix
