#pragma once

class QSerialPort;

// What the flasher needs from an open port beyond QSerialPort's own calls. Each platform has its
// own file (PortControl_linux.cpp, PortControl_other.cpp); CMake picks one.
namespace esptool::port {

// Takes the port for this process alone, so that no other program writes into a flash under
// way: the advisory lock other serial tools honour, and exclusive mode where the OS has one.
// False when another program already holds the lock.
bool claimExclusive(QSerialPort& port);

// Asks the driver to pass received bytes on at once instead of batching them: USB bridges hold
// them for up to 16 ms otherwise, and every 1 KiB block waits for one reply. Nothing happens
// where the driver refuses (a pseudo-terminal does).
void requestLowLatency(QSerialPort& port);

// Sets DTR and RTS in one call, so that a USB bridge never sees one line changed without the
// other. False when the port has no modem-control lines.
bool setModemLines(QSerialPort& port, bool dtr, bool rts);

}  // namespace esptool::port
