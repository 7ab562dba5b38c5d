#pragma once

// The reference picture a command writes beside its volume.

#include "slicestream.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The volume's sink with its reference picture: the given PNG bytes, or slice pictureSlice
// (when not negative) as it passes, scaled to at most pictureSide pixels a side. The picture is
// written just before the volume is committed, so a failed pack leaves neither.
SliceSink withPicture(const SliceSink& volume, int n, int pictureSlice, int pictureSide,
                      std::shared_ptr<QByteArray> picture, const QString& picturePath);
