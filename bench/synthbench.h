#pragma once

// tessary-bench --synth: solid synthesis of 128^3 from GIMP's patterns, with its time, peak
// memory and final matching energy.

// Prints the rows; false when no pattern was found.
bool benchSynth();
