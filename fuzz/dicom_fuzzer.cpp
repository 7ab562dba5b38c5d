// The DICOM path: one file scanned, checked and decoded through GDCM (not instrumented; this
// target catches crashes, overruns and leaks in the code around it).

#include "dicom.h"
#include "formattable.h"
#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.dcm";
    writeBytes(path, data, size);
    std::vector<DicomSeriesSummary> list;
    const std::string listed = listDicomSeries(path, &list);
    FUZZ_CHECK(listed.empty() == (list.size() == 1));
    fuzzReader(path, [&](TypedSource* source) {
        const std::string failure = openPackInput({path}, {}, source);
        if (failure.empty())
            FUZZ_CHECK(listed.empty());
        return failure;
    });
    return 0;
}
