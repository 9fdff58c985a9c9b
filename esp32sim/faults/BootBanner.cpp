#include "esp32sim/faults/BootBanner.h"

namespace esp32sim {

namespace {

constexpr char romBuild[] = "ets Jun  8 2016 00:22:57\r\n\r\n";
constexpr char downloadBoot[] = ",boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n";
constexpr char flashBoot[] = ",boot:0x13 (SPI_FAST_FLASH_BOOT)\r\n";
constexpr char flashSetup[] = "configsip: 0, SPIWP:0xee\r\n";
constexpr char padDrive[] =
    "clk_drv:0x00,q_drv:0x00,d_drv:0x00,cs0_drv:0x00,hd_drv:0x00,wp_drv:0x00\r\n";
constexpr char flashMode[] = "mode:DIO, clock div:2\r\n";

QByteArray resetLine(ResetCause cause)
{
    const char* name = "POWERON_RESET";
    if (cause == ResetCause::brownOut)
        name = "RTCWDT_BROWN_OUT_RESET";
    else if (cause == ResetCause::rtcWatchdog)
        name = "RTCWDT_RTC_RESET";
    return "rst:0x" + QByteArray::number(quint8(cause), 16) + " (" + name + ")";
}

}  // namespace

QByteArray downloadModeBanner(ResetCause cause)
{
    return romBuild + resetLine(cause) + downloadBoot + "waiting for download\r\n";
}

QByteArray failedFlashBootBanner(ResetCause cause)
{
    return romBuild + resetLine(cause) + flashBoot + flashSetup + padDrive + flashMode +
           "flash read err, 1000\r\nets_main.c 371 \r\n";
}

QByteArray firmwareBootBanner()
{
    return romBuild + resetLine(ResetCause::powerOn) + flashBoot + flashSetup + flashMode +
           "load:0x3fff0030,len:7104\r\n"
           "entry 0x400805cc\r\n"
           "I (31) boot: ESP-IDF v5.1 2nd stage bootloader\r\n"
           "I (330) main_task: Calling app_main()\r\n";
}

}  // namespace esp32sim
