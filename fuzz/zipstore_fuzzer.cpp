// The zip store: the end records, the central directory and every entry it lists, read with a
// bound on their size; each value within the bound, each refusal one line naming the zip.

#include "fuzzsupport.h"
#include "messages.h"
#include "zipstore.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

const std::string& zipPath() {
    static const std::string path = [] {
        char name[] = "/tmp/zipstorefuzz-XXXXXX";
        const int fd = mkstemp(name);
        FUZZ_CHECK(fd >= 0);
        close(fd);
        std::atexit([] { unlink(zipPath().c_str()); });
        return std::string(name);
    }();
    return path;
}

void checkMessage(const std::string& message) {
    const std::string shown = inputMessage("input", message);
    FUZZ_CHECK(shown.rfind(zipPath() + ": ", 0) == 0 || shown.rfind(zipPath() + "/", 0) == 0);
    FUZZ_CHECK(shown.find('\n') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        FileHandle file = openFile(zipPath().c_str(), "wb");
        FUZZ_CHECK(file && std::fwrite(data, 1, size, file.get()) == size);
    }
    std::unique_ptr<ZipStore> store;
    const std::string failure = ZipStore::open(zipPath(), &store);
    if (!failure.empty()) {
        checkMessage(failure);
        FUZZ_CHECK(!store);
        return 0;
    }
    const std::uint64_t maxBytes = 1 << 20;
    std::vector<std::string> keys = store->keys();
    keys.push_back("no/such/key");
    for (const std::string& key : keys) {
        FUZZ_CHECK(isSafeStoreKey(key));
        std::vector<unsigned char> bytes;
        bool missing = false;
        const std::string message = store->get(key, maxBytes, &bytes, &missing);
        if (!message.empty()) {
            checkMessage(message);
            FUZZ_CHECK(bytes.empty() && !missing);
        }
        FUZZ_CHECK(bytes.size() <= maxBytes);
        FUZZ_CHECK(missing == (key == "no/such/key"));
    }
    return 0;
}
