#include "dicomfiles.h"

#include <gdcmImageWriter.h>
#include <gdcmMediaStorage.h>
#include <gdcmTrace.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace {
void put(gdcm::DataSet& data, gdcm::Tag tag, gdcm::VR vr, std::string value) {
    if (value.size() % 2)
        value += vr == gdcm::VR::UI ? '\0' : ' ';
    gdcm::DataElement element(tag);
    element.SetVR(vr);
    element.SetByteValue(value.data(), uint32_t(value.size()));
    data.Replace(element);
}

void placeImage(gdcm::Image& image, const DicomSlice& slice) {
    // Rows run along +x, columns along +y: the normal is +z.
    const double cosines[6] = {1, 0, 0, 0, 1, 0};
    image.SetDirectionCosines(cosines);
    const double origin[3] = {10, 20, slice.z};
    image.SetOrigin(origin);
    image.SetOrigin(2, slice.z); // the array form keeps only as many values as dimensions
    const double spacing[3] = {0.5, 0.25, 3};
    image.SetSpacing(spacing);
}
} // namespace

void writeDicom(const std::string& name, const DicomSlice& slice) {
    gdcm::Trace::SetWarning(false);
    gdcm::ImageWriter writer;
    gdcm::Image& image = writer.GetImage();
    image.SetNumberOfDimensions(slice.frames > 1 ? 3 : 2);
    image.SetDimension(0, unsigned(slice.columns));
    image.SetDimension(1, unsigned(slice.rows));
    if (slice.frames > 1)
        image.SetDimension(2, unsigned(slice.frames));
    image.SetPixelFormat(slice.format);
    image.SetPhotometricInterpretation(slice.format.GetSamplesPerPixel() == 3
                                           ? gdcm::PhotometricInterpretation::RGB
                                           : gdcm::PhotometricInterpretation::MONOCHROME2);
    image.SetTransferSyntax(slice.syntax);
    if (slice.placed)
        placeImage(image, slice);
    image.SetSlope(slice.slope);
    image.SetIntercept(slice.intercept);
    gdcm::DataElement pixels(gdcm::Tag(0x7fe0, 0x0010));
    pixels.SetByteValue(slice.pixels.data(), uint32_t(slice.pixels.size()));
    pixels.SetVR(gdcm::VR::OW);
    image.SetDataElement(pixels);
    gdcm::DataSet& data = writer.GetFile().GetDataSet();
    const gdcm::MediaStorage::MSType storage =
        !slice.placed      ? gdcm::MediaStorage::SecondaryCaptureImageStorage
        : slice.frames > 1 ? gdcm::MediaStorage::EnhancedCTImageStorage
                           : gdcm::MediaStorage::CTImageStorage;
    put(data, gdcm::Tag(0x0008, 0x0016), gdcm::VR::UI, gdcm::MediaStorage::GetMSString(storage));
    put(data, gdcm::Tag(0x0008, 0x0060), gdcm::VR::CS, "CT");
    put(data, gdcm::Tag(0x0020, 0x000e), gdcm::VR::UI, slice.uid);
    put(data, gdcm::Tag(0x0008, 0x103e), gdcm::VR::LO, "test series");
    if (slice.instance > 0)
        put(data, gdcm::Tag(0x0020, 0x0013), gdcm::VR::IS, std::to_string(slice.instance));
    if (!slice.imageType.empty())
        put(data, gdcm::Tag(0x0008, 0x0008), gdcm::VR::CS, slice.imageType);
    if (slice.placed)
        put(data, gdcm::Tag(0x0018, 0x0050), gdcm::VR::DS, "2.5");
    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder);
    writer.SetFileName(name.c_str());
    ASSERT_TRUE(writer.Write()) << name;
}
