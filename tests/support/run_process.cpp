#include "tests/support/run_process.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_folder.h"

extern char** environ;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, Output output) {
    TempFolder folder;  // output goes through files: no pipe can fill up and block
    const std::string outPath = folder / "out", errPath = folder / "err";

    std::vector<std::string> args = arguments;
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string existing(*entry);
        bool replaced = false;
        for (const std::string& added : environment) {
            const std::string name = added.substr(0, added.find('=') + 1);
            if (existing.compare(0, name.size(), name) == 0) replaced = true;
        }
        if (!replaced) env.push_back(existing);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> argv = Pointers(args), envp = Pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int gone[2] = {-1, -1};
    if (output == Output::ReaderGone) {
        if (pipe2(gone, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
        close(gone[0]);
        posix_spawn_file_actions_adddup2(&actions, gone[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0644);
    // An ignored SIGPIPE would be inherited: the program must not rely on it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // A session of its own: no controlling terminal, whoever runs the tests.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (gone[1] >= 0) close(gone[1]);
    if (failed != 0) throw std::runtime_error("cannot start " + arguments[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    return result;
}
