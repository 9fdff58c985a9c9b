#pragma once

// The client end of a simulator's pty for tests: opened with plain termios like any serial
// program would, read without blocking so that an in-process simulator keeps running on the
// same event loop while the test waits.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class PtyClient
{
public:
    PtyClient() = default;
    ~PtyClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool open(const QString& path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0)
            return false;
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        return ::tcsetattr(m_fd, TCSANOW, &t) == 0;
    }

    // Sets the rate this end sends at (a pty moves bytes at any rate, but keeps the setting).
    bool setBaud(speed_t speed)
    {
        termios t{};
        return ::tcgetattr(m_fd, &t) == 0 && ::cfsetispeed(&t, speed) == 0 &&
               ::cfsetospeed(&t, speed) == 0 && ::tcsetattr(m_fd, TCSANOW, &t) == 0;
    }

    bool write(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                QTest::qWait(1);
                continue;
            }
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Reads what is there; false once the other side has hung up.
    bool readAvailable(QByteArray& into)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return true;
            return false;  // EIO or end of file: the master is gone
        }
    }

    // Spins the event loop until `count` bytes have arrived, the link drops or time runs out.
    bool waitFor(QByteArray& into, qsizetype count, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (into.size() < count) {
            if (!readAvailable(into) || deadline.hasExpired())
                return into.size() >= count;
            QTest::qWait(2);
        }
        return true;
    }

    // Spins the event loop until the other side hangs up, keeping what still arrives.
    bool waitForHangUp(QByteArray& into, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (readAvailable(into)) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(2);
        }
        return true;
    }

private:
    int m_fd = -1;
};
