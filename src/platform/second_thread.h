// Work shared with a second thread: the big loops (reading a file's text,
// expanding voxels into cubes) give the second half of their work to one
// more thread when the machine can start one.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

// Starts `work` on a new thread held in *helper. False when the system has no
// thread to give (std::thread throws then): the caller does that share itself,
// which is slower but gives the same result.
template <typename Work> bool startSecondThread(std::thread* helper, Work&& work) {
    try {
        *helper = std::thread(std::forward<Work>(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
