#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// A program started in a session of its own that outlives its starter, but whose end the starter
// can still see while it runs: the program is the starter's child (not double-forked), so an exit
// code is there to be read. The object neither waits for the program nor ends it.
class TStartedProgram {
public:
    enum class EState {
        NotStarted,
        Running,
        Exited,    // exitCode() holds the code
        Signalled, // signalNumber() holds the signal that ended it
    };

    TStartedProgram() = default;
    TStartedProgram(const TStartedProgram&) = delete;
    TStartedProgram& operator=(const TStartedProgram&) = delete;

    // Starts Program with Arguments (without the program's name) in WorkingDirectory, with this
    // process's environment. Returns false with the system's reason in Error when it cannot be
    // started (missing file, no permission, not a program).
    bool start(const std::string& Program, const std::vector<std::string>& Arguments,
               const std::string& WorkingDirectory, std::string& Error);

    // Looks whether the program has ended since the last call; never blocks.
    EState poll();

    pid_t processId() const { return m_ProcessId; }
    int exitCode() const { return m_ExitCode; }
    int signalNumber() const { return m_SignalNumber; }

private:
    pid_t m_ProcessId = 0;
    EState m_State = EState::NotStarted;
    int m_ExitCode = 0;
    int m_SignalNumber = 0;
};

} // namespace platform
