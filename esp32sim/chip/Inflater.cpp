#include "esp32sim/chip/Inflater.h"

#define ZLIB_CONST
#include <zlib.h>

namespace esp32sim {

namespace {

constexpr int rawDeflateWindowBits = -15;
constexpr qsizetype zlibHeaderLength = 2;
constexpr qsizetype adlerTrailerLength = 4;
constexpr int deflateMethod = 8;
constexpr int maxWindowInfo = 7;
constexpr int presetDictionaryFlag = 0x20;
constexpr int headerCheckDivisor = 31;
constexpr qsizetype outputChunk = qsizetype(32) * 1024;

bool validZlibHeader(quint8 cmf, quint8 flg)
{
    return (cmf & 0x0F) == deflateMethod && (cmf >> 4) <= maxWindowInfo &&
           ((cmf << 8) | flg) % headerCheckDivisor == 0 && (flg & presetDictionaryFlag) == 0;
}

}  // namespace

// zlib itself parses the header and the trailer when asked to, but reports a damaged stream
// and a wrong Adler-32 with the same return code; the loader must tell them apart, so the
// body is inflated raw and the framing is checked here.
struct Inflater::Stream
{
    z_stream z{};
    bool initialised = false;
    QByteArray header;
    bool bodyEnded = false;
    QByteArray trailer;
    uLong adler = adler32(0, nullptr, 0);
    bool failed = false;

    Stream() { initialised = inflateInit2(&z, rawDeflateWindowBits) == Z_OK; }
    ~Stream()
    {
        if (initialised)
            inflateEnd(&z);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool finished() const { return trailer.size() == adlerTrailerLength; }
};

Inflater::Inflater()
    : m_stream(std::make_unique<Stream>())
{}

Inflater::~Inflater() = default;

void Inflater::reset()
{
    m_stream = std::make_unique<Stream>();
}

Inflater::Result Inflater::push(QByteArrayView input)
{
    Stream& s = *m_stream;
    auto fail = [&s](RomError error) {
        s.failed = true;
        return Result{error, {}};
    };
    if (s.failed || !s.initialised)
        return fail(RomError::inflateFailed);
    if (s.finished() && !input.isEmpty())
        return fail(RomError::inflateFailed);  // data after the end of the stream

    qsizetype pos = 0;
    while (s.header.size() < zlibHeaderLength && pos < input.size())
        s.header.append(input[pos++]);
    if (s.header.size() < zlibHeaderLength)
        return {};
    if (!validZlibHeader(quint8(s.header[0]), quint8(s.header[1])))
        return fail(RomError::inflateFailed);

    Result result;
    if (!s.bodyEnded && pos < input.size()) {
        s.z.next_in = reinterpret_cast<const Bytef*>(input.data() + pos);
        s.z.avail_in = uInt(input.size() - pos);
        for (;;) {
            const qsizetype before = result.output.size();
            result.output.resize(before + outputChunk);
            s.z.next_out = reinterpret_cast<Bytef*>(result.output.data() + before);
            s.z.avail_out = uInt(outputChunk);
            const int rc = inflate(&s.z, Z_NO_FLUSH);
            result.output.resize(before + outputChunk - qsizetype(s.z.avail_out));
            if (rc == Z_STREAM_END) {
                s.bodyEnded = true;
                break;
            }
            if (rc == Z_BUF_ERROR || (rc == Z_OK && s.z.avail_in == 0 && s.z.avail_out != 0))
                break;  // all input consumed; more is needed
            if (rc != Z_OK)
                return fail(RomError::inflateFailed);
        }
        pos = input.size() - qsizetype(s.z.avail_in);
        s.adler = adler32(s.adler, reinterpret_cast<const Bytef*>(result.output.constData()),
                          uInt(result.output.size()));
    }

    if (s.bodyEnded) {
        while (s.trailer.size() < adlerTrailerLength && pos < input.size())
            s.trailer.append(input[pos++]);
        if (pos < input.size())
            return fail(RomError::inflateFailed);
        if (s.finished()) {
            const auto t = [&s](int i) { return uLong(quint8(s.trailer[i])); };
            const uLong expected = (t(0) << 24) | (t(1) << 16) | (t(2) << 8) | t(3);
            if (expected != s.adler)
                return fail(RomError::inflateAdlerMismatch);
        }
    }
    return result;
}

}  // namespace esp32sim
