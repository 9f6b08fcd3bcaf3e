// Pictures drawn by the program itself: its icon and the flash button's picture.
#pragma once

#include <QIcon>
#include <QPixmap>

// The program's icon, 16 × 16 and 32 × 32.
QIcon ProgramIcon();
// The icon's picture drawn at size × size (the desktop's menu icons are made from it).
QPixmap ProgramPicture(int size);
// A syringe over a chip, 24 × 24.
QPixmap WritePicture();
