#pragma once

// Standard error pointed at /dev/null while a library that prints its own doubts there (libjpeg,
// OpenJPEG, CharLS inside GDCM) runs: a refusal is the converter's one line, and a success prints
// nothing. Counted, so that threads decoding at once share one redirection; the progress bar
// writes to its own copy of standard error.
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
};
