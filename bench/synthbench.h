#pragma once

// tessary-bench --synth: solid synthesis of 128^3 from GIMP's patterns (stochastic and
// structured, grey and colour, one through JPEG), with each one's time, peak memory, matching
// energy and quality figures; then one pattern at 256^3, timed and weighed.

// Prints the rows; false when no pattern was found.
bool benchSynth();
