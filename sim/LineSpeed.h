// The bit rate a host set on a terminal, read from any descriptor of that terminal.
#pragma once

// Bits per second, 0 for a hung-up line (B0), or -1 when it can't be read.  Arbitrary rates
// set with BOTHER come back exactly.
long ReadLineSpeed(int fd);
