#pragma once

#include "link/SerialLink.h"

#include <QByteArray>
#include <QList>

#include <functional>

// A serial link for unit tests. It keeps a virtual clock that only pause() moves, records every
// line change, rate change and write with the time it happened, and answers writes through a
// responder. Without modem lines it behaves like a pseudo-terminal: setting DTR or RTS fails.
class FakeSerialLink final : public esptool::SerialLink
{
public:
    struct Event
    {
        enum class Kind
        {
            dtr,
            rts,
            baud,
            write,
            discard,
        };
        Kind kind = Kind::write;
        qint64 atMs = 0;   // virtual time
        int value = 0;     // line level (0/1) or baud
        QByteArray bytes;  // for Write
    };

    // Given the bytes just written, returns the bytes the "chip" sends back.
    using Responder = std::function<QByteArray(const QByteArray& written)>;

    explicit FakeSerialLink(bool hasModemLines = true);

    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // Bytes that arrive unasked (before the next read).
    void deliver(const QByteArray& bytes) { m_incoming.append(bytes); }
    // After this many further writes the link is gone: writes and reads fail.
    void dropAfterWrites(int writes) { m_writesUntilDrop = writes; }

    const QList<Event>& events() const { return m_events; }
    QList<Event> events(Event::Kind kind) const;
    qint64 nowMs() const { return m_nowMs; }

    QString portName() const override;
    esptool::Status write(QByteArrayView bytes) override;
    esptool::Result<QByteArray> read(QDeadlineTimer deadline) override;
    void discardInput() override;
    esptool::Status setBaudRate(int baud) override;
    bool setDataTerminalReady(bool asserted) override;
    bool setRequestToSend(bool asserted) override;
    bool setModemLines(bool dtrAsserted, bool rtsAsserted) override;
    void pause(std::chrono::milliseconds duration) override;

private:
    esptool::FlasherError lost() const;

    bool m_hasModemLines;
    Responder m_responder;
    QByteArray m_incoming;
    QList<Event> m_events;
    qint64 m_nowMs = 0;
    int m_writesUntilDrop = -1;
    bool m_dropped = false;
};
