#pragma once

// Runs of other programs: the converter as built, and the Python writers of tests/.

#include "testsupport.h"

// A refusal in one line that starts with prefix and holds what.
inline void expectRefusal(const std::string& message, const std::string& prefix,
                          const std::string& what) {
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_NE(message.find(what), std::string::npos) << message;
}

// The converter as built, and a run of it to its end, under a limit of its address space in kB
// when one is given; status is -1 when it did not end normally.
QString tessaryVol();
struct ToolRun {
    int status;
    std::string out, err;
};
ToolRun runTool(const QStringList& arguments, int memoryLimit = 0);

// The run refused: exit status 1, and one line on standard error that starts with prefix and
// holds what.
inline void expectRefusal(const ToolRun& run, const std::string& prefix, const std::string& what) {
    EXPECT_EQ(run.status, 1) << run.out;
    const std::size_t end = run.err.find('\n');
    EXPECT_TRUE(end != std::string::npos && end + 1 == run.err.size()) << run.err;
    expectRefusal(run.err.substr(0, end), prefix, what);
}

// The folder into which tests/SCRIPT, run once per process by /usr/bin/python3, wrote its files;
// "" when it failed (its standard error is printed).
QString scriptOutput(const QString& script);
