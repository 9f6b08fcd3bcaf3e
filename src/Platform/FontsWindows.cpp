// Windows: the toolkit asks the system for its fonts, which keeps them loaded already.
#include "Fonts.h"

namespace Platform {

TFontPreload::TFontPreload() = default;

void TFontPreload::Wait() {}

} // namespace Platform
