#pragma once
// What the adapter selection dialog offers: the network adapters of the
// acquisition library and the serial ports. The dialog only shows them.
#include <string>
#include <vector>

namespace orvi {

// The library's adapter list, in the library's order (the dialog's box sorts
// them). The list is freed once, also when it is empty.
std::vector<std::string> ListNetworkAdapters();

// The serial device nodes (/dev/ttyS*, ttyUSB*, ttyACM*) that open, in natural
// order (ttyS2 before ttyS10), then the ports the library offers. A port in
// use by another program is not listed: one held in exclusive mode (TIOCEXCL)
// or under a flock, or named by a lock file "LCK..<node>" in the lock folder
// whose process still runs (a stale lock file does not count).
std::vector<std::string> ListSerialPorts(const std::string& strDevFolder = "/dev",
                                         const std::string& strLockFolder = "/run/lock");

// Natural order of names: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace orvi
