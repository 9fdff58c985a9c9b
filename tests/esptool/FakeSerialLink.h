#pragma once

#include "link/SerialLink.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

// A serial link for unit tests: writes are answered by a responder (the "chip"), a virtual clock
// moves only with pause(), and every line change is logged as "dtr=1@100" (line, level, virtual
// ms; "lines=10@0" for DTR and RTS set in one call). Without modem lines it behaves like a
// pseudo-terminal: setting DTR or RTS fails.
class FakeSerialLink final : public esptool::SerialLink
{
public:
    // Given the bytes just written, returns the bytes the chip sends back.
    using Responder = std::function<QByteArray(const QByteArray& written)>;

    explicit FakeSerialLink(bool hasModemLines = true, Responder responder = {});

    // Bytes that arrive unasked (before the next read).
    void deliver(const QByteArray& bytes) { m_incoming.append(bytes); }
    // Bytes that arrive just after the next wait for something gave up: a late reply.
    void deliverAfterNextTimeout(const QByteArray& bytes) { m_late = bytes; }

    QStringList lineChanges() const { return m_lines; }
    const QList<QByteArray>& writes() const { return m_writes; }
    const QList<int>& bauds() const { return m_bauds; }
    qint64 nowMs() const { return m_nowMs; }

    QString portName() const override;
    esptool::Status write(QByteArrayView bytes) override;
    esptool::Result<QByteArray> read(QDeadlineTimer deadline) override;
    void discardInput() override { m_incoming.clear(); }
    esptool::Status setBaudRate(int baud) override;
    bool setDataTerminalReady(bool asserted) override;
    bool setRequestToSend(bool asserted) override;
    bool setModemLines(bool dtrAsserted, bool rtsAsserted) override;
    void pause(std::chrono::milliseconds duration) override { m_nowMs += duration.count(); }

private:
    bool logLine(const QString& change);

    bool m_hasModemLines;
    Responder m_responder;
    QByteArray m_incoming;
    QByteArray m_late;
    QStringList m_lines;
    QList<QByteArray> m_writes;
    QList<int> m_bauds;
    qint64 m_nowMs = 0;
};

// Reply frames as the ESP32 ROM sends them, SLIP-framed, for scripting fake links.
namespace romreplies {

// 01 <op> <size> <value> <payload> <status> <error> 00 00, framed.
QByteArray frame(quint8 opcode, quint32 value = 0, const QByteArray& payload = {},
                 quint8 status = 0, quint8 error = 0);
// The ROM's eight answers to one SYNC.
QByteArray syncReplies();
// The opcode of a request written to the link (first frame), or -1.
int requestOpcode(const QByteArray& written);
// The first data word of that request.
quint32 requestWord(const QByteArray& written, int index);

}  // namespace romreplies
