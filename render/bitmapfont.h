#pragma once

#include <string>

// Text drawn with one-colour bitmap glyphs held in 96 display lists, one for each character
// code from 32 to 127. The lists belong to the GL context that was current at construction.
class BitmapFont {
public:
    // A bold face of the given name whose characters are height pixels tall.
    BitmapFont(const std::wstring& face, int height);
    ~BitmapFont();
    BitmapFont(const BitmapFont&) = delete;
    BitmapFont& operator=(const BitmapFont&) = delete;

    // Pixel coordinates with the origin at the top-left corner; pair with endOrtho. Uses one
    // level of the projection and one of the model-view stack.
    void beginOrtho(int width, int height);
    // Draws printf-formatted text (at most 1023 characters) with the left end of its
    // baseline at (x, y), in the current colour, over everything whatever its depth.
    void print(float x, float y, const char* format, ...) __attribute__((format(printf, 4, 5)));
    void endOrtho();

    unsigned int listBase = 0; // list listBase + (c - 32) draws character code c
};
