// Built without the window (TARVEX_BUILD_GUI=OFF) there is no sound layer: a station is
// silent, as with --quiet.
#include "StationSound.h"

void StationSound(unsigned) {}
