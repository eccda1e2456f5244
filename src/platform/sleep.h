// Suspending the thread, so that a view at rest leaves the processor idle.
#pragma once

void sleepMilliseconds(unsigned milliseconds);
