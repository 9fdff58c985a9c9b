// The text parsing of SerialPortDiscovery::readIntegerProperty, through a registry whose every
// property is the fuzzed text.
//
// Input: the text, taken once as UTF-8 and once as UTF-16 code units. Invariant: the result
// equals an independent reading of the same rule: surrounding white space trimmed, every "0x"
// and then every "0X" removed, hexadecimal when the untrimmed text starts with "0x" or "0X",
// then an optional sign and digits of that radix within 64 bits, read by std::from_chars.

#include "FuzzInput.h"
#include "serial/DeviceRegistry.h"
#include "serial/SerialPortDiscovery.h"

#include <charconv>
#include <string>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

class TextRegistry final : public DeviceRegistry
{
public:
    explicit TextRegistry(QString text)
        : m_text(std::move(text))
    {}

    std::optional<QList<RegistryHandle>> serialDevices() override
    {
        return QList<RegistryHandle>();
    }
    std::optional<RegistryValue> property(RegistryHandle, QStringView) override
    {
        return RegistryValue(m_text);
    }
    std::optional<RegistryHandle> parentEntry(RegistryHandle) override { return std::nullopt; }
    void release(RegistryHandle) override {}

private:
    QString m_text;
};

// Removes the occurrences left to right, each search going on after the last removal.
std::u16string withoutEvery(std::u16string text, std::u16string_view needle)
{
    for (std::size_t at = text.find(needle); at != std::u16string::npos; at = text.find(needle, at))
        text.erase(at, needle.size());
    return text;
}

bool isDigitOf(char16_t c, int radix)
{
    if (c >= u'0' && c <= u'9')
        return true;
    return radix == 16 && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'));
}

std::optional<qint64> expectedValue(const QString& raw)
{
    const std::u16string cleaned =
        withoutEvery(withoutEvery(raw.trimmed().toStdU16String(), u"0x"), u"0X");
    const bool hexadecimal = raw.startsWith(u"0x"_s, Qt::CaseInsensitive);
    const int radix = hexadecimal ? 16 : 10;

    std::size_t digitsFrom = 0;
    if (!cleaned.empty() && (cleaned.front() == u'+' || cleaned.front() == u'-'))
        digitsFrom = 1;
    if (digitsFrom == cleaned.size())
        return std::nullopt;
    // from_chars reads only ASCII, takes no '+' and would take a second sign: the digits are
    // checked here, the number is left to it.
    std::string ascii = cleaned.front() == u'-' ? "-" : "";
    for (std::size_t i = digitsFrom; i < cleaned.size(); ++i) {
        if (!isDigitOf(cleaned[i], radix))
            return std::nullopt;
        ascii += static_cast<char>(cleaned[i]);
    }
    qint64 value = 0;
    const auto [end, error] =
        std::from_chars(ascii.data(), ascii.data() + ascii.size(), value, radix);
    if (error != std::errc() || end != ascii.data() + ascii.size())
        return std::nullopt;
    return value;
}

void checkText(const QString& text)
{
    TextRegistry registry(text);
    const SerialPortDiscovery discovery(registry);
    const std::optional<qint64> value = discovery.readIntegerProperty(1, u"idVendor");
    fuzz::check(value == expectedValue(text), "the text reads as the rule says");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    checkText(QString::fromUtf8(input));
    checkText(fuzz::utf16Text(input));
    return 0;
}
