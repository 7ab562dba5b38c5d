#include "messages.h"

#include "helpers.h"

std::string fileMessage(const QString& path, const std::string& message) {
    return printableText(path.toStdString() + ": " + message);
}
