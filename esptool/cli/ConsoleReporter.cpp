#include "cli/ConsoleReporter.h"

using namespace Qt::StringLiterals;

namespace esptool {

ConsoleReporter::ConsoleReporter(std::FILE* out, std::FILE* err)
    : m_out(out)
    , m_err(err)
{}

void ConsoleReporter::info(const QString& line)
{
    print(m_out, line);
}

void ConsoleReporter::warning(const QString& line)
{
    print(m_out, u"Warning: "_s + line);
}

void ConsoleReporter::error(const QString& line)
{
    print(m_err, line);
}

int ConsoleReporter::percent(const WriteProgress& progress)
{
    return progress.bytesTotal > 0
               ? static_cast<int>(100 * progress.bytesDone / progress.bytesTotal)
               : 100;
}

QString ConsoleReporter::progressLine(const WriteProgress& progress)
{
    return u"Writing at 0x%1... (%2 %)"_s.arg(progress.address, 8, 16, QLatin1Char('0'))
        .arg(percent(progress));
}

void ConsoleReporter::writeProgress(const WriteProgress& progress)
{
    if (progress.bytesDone == 0 || progress.regionAddress != m_lastRegion)
        m_lastPercent = -1;
    m_lastRegion = progress.regionAddress;
    if (percent(progress) <= m_lastPercent)
        return;
    m_lastPercent = percent(progress);
    print(m_out, progressLine(progress));
}

void ConsoleReporter::print(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace esptool
