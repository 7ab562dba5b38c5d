#include "fatalerror.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
// Stands in for the box: leaves a marker on stderr for each call.
void markerNotice(const std::string& message) {
    std::fprintf(stderr, "notice<%s>\n", message.c_str());
}
void otherNotice(const std::string&) {}
} // namespace

TEST(FatalErrorDeathTest, PrintsOneLineCallsTheNoticeOnceAndExitsWithOne) {
    const std::pair<void (*)(), const char*> cases[] = {
        {[] { fatalError("can't open %s after %d tries", "input/a.vol", 7); },
         "can't open input/a.vol after 7 tries"},
        {[] { fatalError(std::string("100% broken %s")); }, "100% broken %s"},
    };
    for (const auto& [raise, message] : cases) {
        // The child's stdout joins its stderr, which must then hold exactly the printed line
        // followed by one call of the notice.
        EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), setFatalNotice(markerNotice), raise()),
                    testing::ExitedWithCode(1),
                    std::string("^") + message + "\nnotice<" + message + ">\n$");
    }
}

TEST(FatalError, SetFatalNoticeReturnsThePreviousNotice) {
    const FatalNotice original = setFatalNotice(markerNotice);
    EXPECT_EQ(original, &showFatalMessageBox);
    EXPECT_EQ(setFatalNotice(otherNotice), &markerNotice);
    EXPECT_EQ(setFatalNotice(original), &otherNotice);
}
