// Windows: the toolkit asks the system for its fonts, which keeps them loaded already, and
// leaves the C library's locale alone.
#include "Fonts.h"

namespace Platform {

void ApplyEnvironmentLocale() {}

TFontPreload::TFontPreload() = default;

void TFontPreload::Wait() {}

} // namespace Platform
