// Running another program, or a part of this one, in a child process while
// this process waits for it. SIGINT, SIGTERM and SIGHUP sent to this process
// are passed on to the child, so that both end together, and are remembered
// so that the caller can tidy up after the child and then end by the same
// signal.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// From now on SIGINT, SIGTERM and SIGHUP (each unless ignored) are passed on
// to the running child and remembered instead of ending this process.
void passOnEndingSignals();

// The last of those signals received since passOnEndingSignals, or 0.
int endingSignalReceived();

// Runs `body` in a child process, which exits with what it returns (through
// exit, so its atexit handlers run), with the signals' actions as they were
// before passOnEndingSignals. Returns the child's id, or -1 with the reason
// in *error.
pid_t startChild(const std::function<int()>& body, std::string* error);

// Starts `file` with the arguments `argv` (argv[0] first): when `file` holds a
// slash, that file, else the first of that name on the PATH. Returns the
// child's id once the program is running, or -1 with the reason (the
// system's, e.g. "No such file or directory") in *error.
pid_t startProgram(const std::string& file, const std::vector<std::string>& argv,
                   std::string* error);

// Waits for the child to end, through any signals received meanwhile, and
// returns its wait status.
int waitForChild(pid_t child);

// Ends this process by `sig`, as if it had not been caught; should the
// signal not end it, exits with status 128 + sig.
[[noreturn]] void endBySignal(int sig);
