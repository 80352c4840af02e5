#include "platform/startedprogram.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// The attributes of a start: a session of its own (the launcher's terminal going away does not
// end the game), no blocked signals, and the launcher's own signal dispositions not passed on.
class TSpawnAttributes {
public:
    TSpawnAttributes() {
        posix_spawnattr_init(&m_Attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_Attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signalNumber : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
            sigaddset(&defaults, signalNumber);
        }
        posix_spawnattr_setsigdefault(&m_Attributes, &defaults);
        posix_spawnattr_setflags(&m_Attributes,
                                 POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~TSpawnAttributes() { posix_spawnattr_destroy(&m_Attributes); }
    TSpawnAttributes(const TSpawnAttributes&) = delete;
    TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;

    const posix_spawnattr_t* get() const { return &m_Attributes; }

private:
    posix_spawnattr_t m_Attributes;
};

class TSpawnActions {
public:
    explicit TSpawnActions(const std::string& WorkingDirectory) {
        posix_spawn_file_actions_init(&m_Actions);
        m_Result = posix_spawn_file_actions_addchdir_np(&m_Actions, WorkingDirectory.c_str());
    }
    ~TSpawnActions() { posix_spawn_file_actions_destroy(&m_Actions); }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;

    int result() const { return m_Result; }
    const posix_spawn_file_actions_t* get() const { return &m_Actions; }

private:
    posix_spawn_file_actions_t m_Actions;
    int m_Result = 0;
};

} // namespace

bool TStartedProgram::start(const std::string& Program, const std::vector<std::string>& Arguments,
                            const std::string& WorkingDirectory, std::string& Error) {
    std::vector<char*> argv;
    argv.reserve(Arguments.size() + 2);
    argv.push_back(const_cast<char*>(Program.c_str()));
    for (const std::string& argument : Arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    const TSpawnAttributes attributes;
    const TSpawnActions actions(WorkingDirectory);
    if (actions.result() != 0) {
        Error = std::strerror(actions.result());
        return false;
    }
    pid_t processId = 0;
    // glibc reports a failed exec (a missing file, no permission) as the result of the call.
    const int result =
        ::posix_spawn(&processId, Program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
    if (result != 0) {
        Error = std::strerror(result);
        return false;
    }
    m_ProcessId = processId;
    m_State = EState::Running;
    return true;
}

TStartedProgram::EState TStartedProgram::poll() {
    if (m_State != EState::Running) {
        return m_State;
    }
    int status = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(m_ProcessId, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == m_ProcessId) {
        if (WIFEXITED(status)) {
            m_State = EState::Exited;
            m_ExitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            m_State = EState::Signalled;
            m_SignalNumber = WTERMSIG(status);
        }
    }
    return m_State;
}

} // namespace platform
