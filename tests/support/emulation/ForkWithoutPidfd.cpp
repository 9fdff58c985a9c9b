// Preloaded into the test processes of a cross build that run under qemu-user; nothing shipped
// contains it.
//
// Qt starts a child process with clone(CLONE_PIDFD) when the kernel offers process file
// descriptors, and it finds out by calling waitid(P_PIDFD, ...), which it does through syscall().
// qemu-user 7.2 (Debian 12) hands that question to the real kernel, which says yes, and then
// refuses CLONE_PIDFD in clone() with EINVAL: every QProcess fails to start. Answering the
// question as a kernel older than 5.4 does makes Qt fall back to fork(), which qemu-user runs.

#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <sys/syscall.h>

namespace {

// From <linux/wait.h>, which clashes with glibc's <sys/wait.h>.
constexpr long pidfdIdType = 3;
constexpr int syscallArgumentCount = 6;

using SyscallFunction = long (*)(long, ...);

}  // namespace

extern "C" long syscall(long number, ...)
{
    // Every system call takes at most six arguments, all passed as longs; reading six is what
    // glibc's own syscall() does.
    std::va_list list;
    va_start(list, number);
    long arguments[syscallArgumentCount];
    for (long& argument : arguments)
        argument = va_arg(list, long);
    va_end(list);

    if (number == SYS_waitid && arguments[0] == pidfdIdType) {
        errno = EINVAL;
        return -1;
    }
    static const auto next = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    return next(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                arguments[5]);
}
