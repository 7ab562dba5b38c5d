#pragma once

// The broken-file check the reader tests share.

#include "readercheck.h"
#include "testruns.h"

// Writes contents to name, then checks that the readers' fuzzed path refuses it without
// breaking, and that info refuses it too, each in one line that starts with "NAME: " and holds
// reason.
inline void expectFileRefused(const std::string& name, const std::string& contents,
                              const std::string& reason) {
    SCOPED_TRACE(name);
    writeFile(name, contents);
    const ReaderOutcome outcome = checkReader({QString::fromStdString(name)}, {});
    EXPECT_EQ(outcome.broken, "");
    expectRefusal(outcome.refusal, name + ": ", reason);
    expectRefusal(runTool({"info", QString::fromStdString(name)}), name + ": ", reason);
}
