#include "demo/DemoFault.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

// The link drops about halfway through a write of the bundled image.
const QStringList halfwayDrop{u"--drop-after"_s, u"400000"_s};
// The flasher sends about 930,000 bytes for the bundled image at 1500000 baud, compressed.
const QStringList restartOneThirdIn{u"--restart-after"_s, u"310000"_s};

}  // namespace

const QList<DemoFault>& demoFaults()
{
    static const QList<DemoFault> faults{
        {u"noisy"_s,
         u"bits flip on the line; the flasher sends blocks again and finishes"_s,
         {u"--flip-rate"_s, u"1e-4"_s, u"--seed"_s, u"3"_s}},
        {u"too-noisy"_s,
         u"a line too noisy to recover: the flasher gives up and names the cause"_s,
         {u"--flip-rate"_s, u"1e-2"_s}},
        {u"drop"_s,
         u"the adapter drops off halfway and returns 2 s later; the flasher carries on"_s,
         halfwayDrop + QStringList{u"--return-after"_s, u"2000"_s}, true},
        {u"unplugged"_s, u"the adapter drops off halfway and never returns"_s, halfwayDrop, true},
        {u"no-download-mode"_s,
         u"the board booted its own firmware instead of the serial loader"_s,
         {u"--boot-from-flash"_s}},
        {u"silent"_s, u"nothing ever answers on the port"_s, {u"--no-sync"_s}},
        // An ESP32-S3's magic value.
        {u"other-chip"_s, u"another chip than the original ESP32"_s, {u"--chip-magic"_s, u"0x9"_s}},
        {u"write-error"_s,
         u"the flash chip fails to write one block, every time"_s,
         {u"--write-error-block"_s, u"7"_s}},
        {u"restart"_s, u"the board restarts into its loader a third of the way into the write"_s,
         restartOneThirdIn},
        {u"restart-loop"_s,
         u"the board restarts into its half-written firmware, and again and again"_s,
         restartOneThirdIn + QStringList{u"--restart-into"_s, u"firmware"_s}},
        {u"slow-cable"_s,
         u"a cable that flips bits above 921600 baud only: the flasher moves down to it"_s,
         {u"--flip-rate"_s, u"1e-3"_s, u"--flip-above"_s, u"921600"_s}},
        {u"encrypted"_s,
         u"flash encryption is on: a plain image would not boot"_s,
         {u"--flash-crypt-cnt"_s, u"1"_s}},
    };
    return faults;
}

std::optional<DemoFault> findDemoFault(const QString& name)
{
    const QList<DemoFault>& faults = demoFaults();
    const auto found = std::find_if(faults.cbegin(), faults.cend(),
                                    [&name](const DemoFault& fault) { return fault.name == name; });
    return found == faults.cend() ? std::nullopt : std::optional(*found);
}

}  // namespace tavix
