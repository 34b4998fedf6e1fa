#pragma once
// The window-level robustness checks, run by the test class in
// WindowRobustnessTest.cpp.

#include <cstdint>

struct ModelFigures {
    std::uint64_t seed = 0;
    long actions = 0;
    long added = 0;
    long deleted = 0;
    long renamed = 0;
    long sortSwitches = 0;
    long reopens = 0;
    long refusedAdds = 0;   // Enters on a Write that a rename had left enabled for a listed name
    long recordsLost = 0;
};

// Every call of a close, then of a start-up, failing in turn.
void runWindowCloseFaults(int& cases);
void runWindowStartUpFaults(int& cases);
// A random sequence of the window's actions against a plain reference.
void runRandomModel(long actions, ModelFigures& figures);
