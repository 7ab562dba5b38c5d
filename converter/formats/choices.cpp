#include "choices.h"

#include "text.h"

#include <cstdio>

void printVolumes(const QString& path, const char* format, long long volumes, const char* what) {
    if (volumes > 1)
        std::printf("%s\n  format           %s, %lld %s (pick one with --volume T, 0 to %lld)\n",
                    printableText(path.toStdString()).c_str(), format, volumes, what, volumes - 1);
}

void printArrays(const QString& path, const char* format, const std::vector<std::string>& names) {
    if (names.size() < 2)
        return;
    std::printf("%s\n  format           %s\n  arrays           ",
                printableText(path.toStdString()).c_str(), format);
    for (std::size_t k = 0; k < names.size(); ++k)
        std::printf("%s%s", k ? ", " : "", printableText(names[k]).c_str());
    std::printf(" (pick one with --dataset NAME)\n");
}
