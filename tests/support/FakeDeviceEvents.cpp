#include "support/FakeDeviceEvents.h"

#include <QList>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

FakeDeviceEvents::FakeDeviceEvents()
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
        qFatal("FakeDeviceEvents: no pipe");
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
}

FakeDeviceEvents::~FakeDeviceEvents()
{
    ::close(m_readEnd);
    ::close(m_writeEnd);
}

void FakeDeviceEvents::send(const QByteArray& action, const QByteArray& subsystem)
{
    const QByteArray line = action + ' ' + subsystem + '\n';
    if (::write(m_writeEnd, line.constData(), size_t(line.size())) != line.size())
        qFatal("FakeDeviceEvents: cannot send");
}

bool FakeDeviceEvents::drained() const
{
    int pending = 0;
    return ::ioctl(m_readEnd, FIONREAD, &pending) == 0 && pending == 0;
}

std::optional<tavix::DeviceEvent> FakeDeviceEvents::receive()
{
    QByteArray line;
    char c = 0;
    while (::read(m_readEnd, &c, 1) == 1 && c != '\n')
        line.append(c);
    if (line.isEmpty())
        return std::nullopt;
    const QList<QByteArray> words = line.split(' ');
    return tavix::DeviceEvent{words.value(0), words.value(1)};
}
