#pragma once
// The program's icon: a flat-panel detector showing a radiograph, drawn at
// every size the window system asks for.
#include <QIcon>

namespace orvi {

QIcon MakeAppIcon();

}  // namespace orvi
