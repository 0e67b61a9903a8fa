// The protocol's default library calls: the exports of libPelkio.so. Kept out
// of the core so that only programs and tests that want the real library link it.
#include "acquisition/BoardProtocol.h"

#include "usbio/Pelkio.h"

namespace orvi {

CPelkioApi PelkioExports() { return CPelkioApi{&::InitBoard, &::PortConfigureEx, &::PortReadEx, &::PortWriteEx}; }

}  // namespace orvi
