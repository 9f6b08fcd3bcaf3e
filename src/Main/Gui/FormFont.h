// The windows' font: "MS Sans Serif", 8 points, or the closest narrow sans serif the
// desktop has (a wide fallback would not fit the fixed control sizes).
#pragma once

#include <QFont>

QFont FormFont();
