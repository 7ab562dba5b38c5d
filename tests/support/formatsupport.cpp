#include "formatsupport.h"

#include "formattable.h"

std::string packSamples(const QStringList& inputs, const InputSelection& selection,
                        TypedSource* source) {
    std::string samples;
    std::string failure = openPackInput(inputs, selection, source);
    if (failure.empty())
        failure = readTwice(*source, &samples);
    return failure.empty() ? samples : failure;
}
