// Work that recurses as deep as its input nests (a library's importer
// following a scene's nodes) runs on a thread of its own, with a stack sized
// for what the input could hold rather than the few megabytes a process
// starts with.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Runs `work` on a new thread with a stack of `stackBytes` and waits for it;
// what it throws is thrown here. Should the work run past that stack all
// the same, the process writes `overflowLine` to stderr and exits with
// status 1 instead of dying of the fault. False, with nothing run, when no
// such stack or thread can be had. While the stack is mapped, the process's
// address-space limit (RLIMIT_AS), where it has one, is raised by its size,
// as far as the hard limit allows: reserving the stack takes nothing from
// the room the limit leaves the work's heap, which is the process's main
// heap (glibc makes no heap of its own for the thread). One at a time: the work must
// not call it again.
bool runOnOwnStack(size_t stackBytes, const std::function<void()>& work,
                   const std::string& overflowLine);
