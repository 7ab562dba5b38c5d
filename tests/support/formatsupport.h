#pragma once

// The inputs opened as the readers open them, for the format tests, and the writers of the
// converter's inputs.

#include "arrayfiles.h"
#include "metaimagefiles.h"
#include "packsupport.h"

#include <QStringList>

// The inputs opened as pack opens them, each slice read twice (the second pass must rewind and
// agree): the samples, or the failure.
std::string packSamples(const QStringList& inputs, const InputSelection& selection,
                        TypedSource* source);
