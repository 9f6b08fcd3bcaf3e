// Decoding of JPEG pictures with libjpeg.
#pragma once

#include <QImage>

#include <cstddef>

// The picture in `data`, or a null image when the data is not a JPEG libjpeg can read.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);
