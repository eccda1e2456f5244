// The idle callback: keeps a flung turn spinning, and otherwise rests.
#pragma once

// Milliseconds the idle callback sleeps while nothing spins.
constexpr unsigned restSleepMilliseconds = 10;

void idleCallback();
