// The 16-colour screen palette through which traces, cursors, indicators and channel boxes take
// their colour from a setup colour index.
#pragma once

#include <QColor>

// Palette entry `index` (0 black ... 15 white) lightened to 130 %; any index above 15 gives
// entry 15. The table is built on first use and kept for the life of the process.
QColor getZincColor(unsigned short index);
