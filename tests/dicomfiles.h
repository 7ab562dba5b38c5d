#pragma once

// DICOM files written through GDCM for the reader tests: a slice, or frames, with the fields
// that place and describe it.

#include <gdcmPixelFormat.h>
#include <gdcmTransferSyntax.h>

#include <string>

struct DicomSlice {
    std::string uid = "1.2.826.0.1.3680043.2.1125.1";
    int columns = 3, rows = 2, frames = 1;
    gdcm::PixelFormat format = gdcm::PixelFormat::INT16;
    gdcm::TransferSyntax::TSType syntax = gdcm::TransferSyntax::ExplicitVRLittleEndian;
    double z = 0; // the slice's position along the normal
    double slope = 1, intercept = 0;
    int instance = 0;      // Instance Number; 0 leaves it out
    std::string imageType; // Image Type, "" leaves it out
    bool placed = true;    // whether the file gives its position, orientation and spacing
    std::string pixels;
};

// Writes slice to name, making its folder (the test fails when GDCM cannot write it).
void writeDicom(const std::string& name, const DicomSlice& slice);
