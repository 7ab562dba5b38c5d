#include "fatalerror.h"
#include "testsupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <unistd.h>

TEST(FatalErrorDeathTest, PrintsOneLineCallsTheNoticeOnceAndExitsWithOne) {
    // A stand-in for the box leaves a marker on stderr for each call. setFatalNotice returns
    // the notice it replaces; null puts the box back.
    const FatalNotice markerNotice = [](const std::string& message) {
        std::fprintf(stderr, "notice<%s>\n", message.c_str());
    };
    const FatalNotice before = setFatalNotice(markerNotice);
    const ScopeExit restore{[before] { setFatalNotice(before); }};
    ASSERT_EQ(before, &showFatalMessageBox);
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
    EXPECT_EQ(setFatalNotice(nullptr), markerNotice);
    EXPECT_EQ(setFatalNotice(nullptr), &showFatalMessageBox);
}

// A message that happens to look like markup is shown as written.
TEST(FatalErrorTest, TheBoxShowsTheMessageAsPlainText) {
    ensureApplication();
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        EXPECT_EQ(box->windowTitle(), "ERROR");
        EXPECT_EQ(box->text(), "file not found: <b>x</b>.vert");
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        box->accept();
    });
    showFatalMessageBox("file not found: <b>x</b>.vert");
}
