#include "fatalerror.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
// Stands in for the box: leaves a marker on stderr for each call.
void markerNotice(const std::string& message) {
    std::fprintf(stderr, "notice<%s>\n", message.c_str());
}
} // namespace

TEST(FatalErrorDeathTest, PrintsOneLineCallsTheNoticeOnceAndExitsWithOne) {
    // setFatalNotice returns the notice it replaces; null puts the box back.
    ASSERT_EQ(setFatalNotice(markerNotice), &showFatalMessageBox);
    const std::pair<void (*)(), const char*> cases[] = {
        {[] { fatalError("can't open %s after %d tries", "input/a.vol", 7); },
         "can't open input/a.vol after 7 tries"},
        {[] { fatalError(std::string("100% broken %s")); }, "100% broken %s"},
    };
    for (const auto& [raise, message] : cases) {
        // The child's stdout joins its stderr, which must then hold exactly the printed line
        // followed by one call of the notice.
        EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), raise()), testing::ExitedWithCode(1),
                    std::string("^") + message + "\nnotice<" + message + ">\n$");
    }
    EXPECT_EQ(setFatalNotice(nullptr), &markerNotice);
    EXPECT_EQ(setFatalNotice(nullptr), &showFatalMessageBox);
}
