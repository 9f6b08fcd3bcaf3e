// The sound at each unit's end: the window's MessageBeep (64 information, 16 error) where the
// program is built with the window's sound layer, else none.
#pragma once

void StationSound(unsigned type);
