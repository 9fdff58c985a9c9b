#pragma once

#include "link/SerialLink.h"

#include <QSerialPort>

#include <memory>

namespace esptool {

// The real port. A command-line tool has nothing else to do while it waits, so it blocks in
// QSerialPort's waitFor* calls with deadlines; this class is the only place that does.
class QtSerialLink final : public SerialLink
{
public:
    // Opens `path` at `baud`, 8N1, no flow control, for this process alone and with low
    // latency where the driver offers it. A port another program holds fails as busy.
    static Result<std::unique_ptr<SerialLink>> open(const QString& path, int baud);

    QString portName() const override;
    Status write(QByteArrayView bytes) override;
    Result<QByteArray> read(QDeadlineTimer deadline) override;
    void discardInput() override;
    Status setBaudRate(int baud) override;
    bool setDataTerminalReady(bool asserted) override;
    bool setRequestToSend(bool asserted) override;
    bool setModemLines(bool dtrAsserted, bool rtsAsserted) override;
    void pause(std::chrono::milliseconds duration) override;

private:
    explicit QtSerialLink(const QString& path);
    // Called after a failed wait: a ResourceError means the device is gone. QSerialPort keeps
    // reporting it for as long as the port stays open, so the port is closed at the first one.
    FlasherError lostLink();

    QString m_path;
    QSerialPort m_port;
};

}  // namespace esptool
