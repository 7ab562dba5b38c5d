// The DICOM path: one file scanned, checked and decoded through GDCM (not instrumented; this
// target catches crashes, overruns and leaks in the code around it).

#include "dicom/dicom.h"
#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.dcm";
    writeBytes(path, data, size);
    std::vector<DicomSeriesSummary> list;
    const std::string listed = listDicomSeries(path, &list);
    FUZZ_CHECK(listed.empty() == (list.size() == 1));
    if (fuzzReader(path).empty())
        FUZZ_CHECK(listed.empty());
    return 0;
}
