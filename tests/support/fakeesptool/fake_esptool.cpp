// A stand-in for the flasher whose behaviour each test chooses through the environment variable
// FAKE_ESPTOOL_PLAN: one step per line, run in order.
//
//   out TEXT            write TEXT to standard output in one write
//   err TEXT            the same on standard error
//   repeat N TEXT       write TEXT N times, one write each
//   paced N US TEXT     write TEXT N times, pausing US microseconds after each write
//   sleep MS            pause
//   exit STATUS         end with this exit status (the default at the end of the plan is 0)
//   signal NUMBER       end by this signal
//
// TEXT takes the escapes \n \r \t \\ and \xHH (any byte, so invalid UTF-8 and split characters
// can be written). When FAKE_ESPTOOL_RECORD names a file, the arguments are written there first,
// one per line, followed by a line "NO_COLOR=<value>".
//
// Plain POSIX writes: nothing is buffered, so each step reaches the reader as the test intends.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string unescape(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            bytes += text[i];
            continue;
        }
        const char kind = text[++i];
        switch (kind) {
        case 'n':
            bytes += '\n';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'x':
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default:
            bytes += kind;
        }
    }
    return bytes;
}

void writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            std::exit(120);
        done += static_cast<std::size_t>(written);
    }
}

void record(const char* path, int argc, char** argv)
{
    std::ofstream file(path, std::ios::binary);
    for (int i = 1; i < argc; ++i)
        file << argv[i] << '\n';
    const char* noColor = std::getenv("NO_COLOR");
    file << "NO_COLOR=" << (noColor ? noColor : "") << '\n';
}

}  // namespace

int main(int argc, char** argv)
{
    if (const char* recordPath = std::getenv("FAKE_ESPTOOL_RECORD"))
        record(recordPath, argc, argv);

    const char* plan = std::getenv("FAKE_ESPTOOL_PLAN");
    std::istringstream steps(plan ? plan : "");
    std::string line;
    while (std::getline(steps, line)) {
        std::istringstream step(line);
        std::string verb;
        step >> verb;
        std::string rest;
        std::getline(step >> std::ws, rest);
        if (verb == "out") {
            writeAll(STDOUT_FILENO, unescape(rest));
        } else if (verb == "err") {
            writeAll(STDERR_FILENO, unescape(rest));
        } else if (verb == "repeat") {
            std::istringstream args(rest);
            long count = 0;
            args >> count;
            std::string text;
            std::getline(args >> std::ws, text);
            const std::string bytes = unescape(text);
            for (long i = 0; i < count; ++i)
                writeAll(STDOUT_FILENO, bytes);
        } else if (verb == "paced") {
            std::istringstream args(rest);
            long count = 0;
            long pauseUs = 0;
            args >> count >> pauseUs;
            std::string text;
            std::getline(args >> std::ws, text);
            const std::string bytes = unescape(text);
            for (long i = 0; i < count; ++i) {
                writeAll(STDOUT_FILENO, bytes);
                std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
            }
        } else if (verb == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(rest)));
        } else if (verb == "exit") {
            return std::stoi(rest);
        } else if (verb == "signal") {
            const int number = std::stoi(rest);
            std::signal(number, SIG_DFL);
            std::raise(number);
            return 121;  // not reached for a fatal signal
        } else if (!verb.empty()) {
            std::fprintf(stderr, "fake esptool: unknown step '%s'\n", verb.c_str());
            return 122;
        }
    }
    return 0;
}
