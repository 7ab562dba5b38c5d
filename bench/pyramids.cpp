#include "pyramids.h"

#include "formattable.h"
#include "packplan.h"
#include "slicestream.h"

std::string packDropped(const QString& input, int size, double windowHi,
                        const std::string& dataset) {
    PackSettings settings;
    settings.size = size;
    settings.pick.size = size;
    settings.pick.dataset = dataset;
    settings.windowGiven = windowHi >= 0;
    settings.windowLo = 0;
    settings.windowHi = windowHi;
    TypedSource source;
    PackPlan plan;
    std::string failure = openPackInput({input}, settings.pick, &source);
    if (failure.empty())
        failure = planPack(source, settings, input, &plan);
    SliceSink sink;
    sink.write = [](const unsigned char*) { return std::string(); };
    sink.commit = [] { return std::string(); };
    return failure.empty() ? streamSlices(plan.rgb, sink, "packing") : failure;
}
