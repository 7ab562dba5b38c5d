#include "inputformat.h"

bool hasMarkAt(const std::string& start, std::size_t at, const std::string& mark) {
    return start.size() >= at + mark.size() && start.compare(at, mark.size(), mark) == 0;
}
