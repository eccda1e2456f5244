// A line on stderr that says what a long run is doing and how far it is,
// rewritten in place. It appears only when stderr is a terminal and the run
// has taken more than a second, so quick runs, pipes and logs see nothing.
#pragma once

#include <cstdint>
#include <string>

// Starts watching (a thread that redraws the line four times a second) when
// stderr is a terminal; otherwise every call below does nothing.
void startProgress(const char* program);

// What is being done now ("reading model.vxl"); forgets the amount.
void progressPhase(const std::string& what);

// How much of the current phase is done.
void progressAmount(int64_t done, int64_t total);

// Erases the line and stops watching: before any message is printed, and at
// the end of the run.
void stopProgress();

// The text of the line: "PROGRAM: WHAT" then " NN%" when the total is
// known, then the time taken in whole seconds.
std::string progressText(const char* program, const std::string& what, int64_t done, int64_t total,
                         double seconds);
