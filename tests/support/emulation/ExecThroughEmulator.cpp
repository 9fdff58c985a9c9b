// Preloaded into the test processes of a cross build that run under qemu-user; nothing shipped
// contains it (README.md).
//
// This machine has no binfmt_misc entry for aarch64, so the kernel refuses to exec a program
// built for the target: every test that starts the fake flasher, the bundled flasher or the
// simulator would fail with ENOEXEC, leaving only the unit tests green. Here an exec of an
// aarch64 program becomes an exec of the emulator that runs it, with this library preloaded
// again and argv[0] kept, so the child is what the test asked for. Programs of the build machine
// (the shell, the host tools) are started as they are.
//
// Qt's QProcess calls execv() or execve(); glibc's execv() reaches the kernel without passing
// through execve(), so both are caught. posix_spawn() and system() exec inside glibc, out of a
// preload's reach; no test uses them.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using ExecveFunction = int (*)(const char*, char* const[], char* const[]);

bool isTargetProgram(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    Elf64_Ehdr header{};
    const bool whole = ::read(fd, &header, sizeof header) == ssize_t(sizeof header);
    ::close(fd);
    return whole && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_machine == EM_AARCH64;
}

bool emulatorIsThere()
{
    return ::access(TAVIX_EMULATOR, X_OK) == 0;
}

void reportMissingEmulator(const char* program)
{
    std::fprintf(stderr,
                 "tavixemulation: cannot start %s: the emulator %s is missing or not executable\n",
                 program, TAVIX_EMULATOR);
}

// Where this library was loaded from, to preload it into the emulated child as well.
std::string libraryPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&reportMissingEmulator), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

// Children inherit the environment: the loader of a build-machine program would complain about a
// preload built for another processor, and an emulated child gets it from its emulator's command
// line. A test that cannot start its children must say why in its own log, where the failure
// shows, and not only in the child's output, which the test may never read.
[[gnu::constructor]] void prepareForChildren()
{
    ::unsetenv("LD_PRELOAD");
    if (!emulatorIsThere())
        reportMissingEmulator("any aarch64 program");
}

}  // namespace

extern "C" int execve(const char* path, char* const argv[], char* const envp[])
{
    static const auto next = reinterpret_cast<ExecveFunction>(::dlsym(RTLD_NEXT, "execve"));
    if (!isTargetProgram(path))
        return next(path, argv, envp);
    if (!emulatorIsThere()) {
        reportMissingEmulator(path);
        errno = ENOEXEC;
        return -1;
    }

    const std::string preload = "LD_PRELOAD=" + libraryPath();
    const bool hasArguments = argv != nullptr && argv[0] != nullptr;
    std::vector<const char*> command{TAVIX_EMULATOR,  "-0", hasArguments ? argv[0] : path, "-E",
                                     preload.c_str(), path};
    if (hasArguments) {
        for (char* const* argument = argv + 1; *argument != nullptr; ++argument)
            command.push_back(*argument);
    }
    command.push_back(nullptr);
    // execve() takes char* const[] for C's sake; it does not write to the strings.
    return next(TAVIX_EMULATOR, const_cast<char* const*>(command.data()), envp);
}

extern "C" int execv(const char* path, char* const argv[])
{
    return execve(path, argv, environ);
}
