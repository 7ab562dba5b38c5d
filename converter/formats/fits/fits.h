#pragma once

// FITS cubes (.fits, .fit, .fts, .fits.gz) through cfitsio: the image of NAXIS 3 (or 4 with a
// last axis of 1) in the file's only cube HDU, or the HDU --dataset names by its number (0 the
// primary, as astropy and DS9 count them) or its EXTNAME. BITPIX 8, 16, 32, -32 and -64 read
// as stored; BZERO's unsigned conventions as uint8's signed twin, uint16 and uint32; BITPIX 64
// and any other BSCALE or BZERO as floats, as astropy reads them; integers with BLANK as floats,
// blanks NaN. Tile-compressed images read as cfitsio gives them. NAXIS1 is x, NAXIS2 y, NAXIS3
// z, kept so: row 1 lies at the bottom, as DS9 and origin='lower' show it. A gzip file is
// inflated once, into memory bounded by what is available, where cfitsio reads it.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>

// Whether the first bytes of a file begin a FITS primary header.
bool hasFitsMark(const std::string& start);

// Opens a FITS file as a typed source; dataset is --dataset ("" for the only cube). Returns ""
// or the bare reason, as do its reads.
[[nodiscard]] std::string openFitsSource(const QString& path, const std::string& dataset,
                                         TypedSource* source);

// Prints the file's HDUs, for info, where it holds several cubes or none.
void printFitsHdus(const QString& path);

// Its entry in the table of formats.
InputFormat fitsInputFormat();
