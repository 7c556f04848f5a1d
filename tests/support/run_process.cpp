#include "tests/support/run_process.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
                         const std::vector<std::string>& environment) {
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
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = 0;
    int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
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
