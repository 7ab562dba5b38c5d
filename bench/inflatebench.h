#pragma once

// Whole chunks inflated by each inflate Debian has (zlib, ISA-L's igzip, libdeflate) and by the
// converter's own chunk decoder, on the pyramid rows' samples.
void benchmarkInflate();
