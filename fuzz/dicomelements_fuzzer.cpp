// The walk over a DICOM file's element lengths that runs before GDCM reads any file: on any
// bytes it ends, reads nothing past the file, and finds either nothing or its one reason.

#include "dicom/dicomelements.h"
#include "readerfuzz.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.dcm";
    writeBytes(path, data, size);
    const std::string fault = dicomLengthFault(QFile::encodeName(path).toStdString());
    FUZZ_CHECK(fault.empty() || fault == dicomLengthRunsPast);
    return 0;
}
