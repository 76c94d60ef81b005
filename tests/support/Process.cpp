#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    // Close-on-exec: a child keeps only the ends it is given as its output,
    // and no other caller's pipes.
    Pipe()
    {
        if (pipe2(fd, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
    }
    ~Pipe()
    {
        for (int f : fd)
            if (f >= 0)
                close(f);
    }
    void closeEnd(int i)
    {
        close(fd[i]);
        fd[i] = -1;
    }
};

// This process's environment with `extra` added, as "KEY=value" texts.
std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra)
{
    std::vector<std::string> out;
    for (const auto& [key, value] : extra)
        out.push_back(key + "=" + value);
    for (char** e = environ; *e; ++e)
        if (extra.count(std::string(*e, std::strcspn(*e, "="))) == 0)
            out.push_back(*e);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (auto& text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment)
{
    Pipe out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(environment);
    auto argPointers = pointers(args);
    auto envPointers = pointers(env);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + args[0]);
    out.closeEnd(1);
    err.closeEnd(1);

    // Read until the child has exited and its pipes are drained. Waiting for
    // end-of-file instead would also wait for any daemon the child started
    // (wine64 starts a wineserver that inherits the pipes).
    ProcessResult result;
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int status = 0;
    bool exited = false;
    for (;;) {
        const int ready = poll(fds, 2, exited ? 0 : 20);
        bool readSome = false;
        for (int i = 0; ready > 0 && i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
                readSome = true;
            } else {
                fds[i].fd = -1;
            }
        }
        if ((fds[0].fd < 0 && fds[1].fd < 0) || (exited && !readSome))
            break;
        if (!exited && waitpid(pid, &status, WNOHANG) == pid)
            exited = true;
    }
    if (!exited)
        waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool underWine()
{
    const char* runner = std::getenv("SIGBRID_RUNNER");
    return runner && *runner;
}

ProcessResult runSigbrid(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment)
{
    const char* exe = std::getenv("SIGBRID_EXE");
    if (!exe || !*exe)
        throw std::runtime_error("SIGBRID_EXE is not set");
    std::vector<std::string> argv;
    if (underWine())
        argv.push_back(std::getenv("SIGBRID_RUNNER"));
    argv.push_back(exe);
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result = runProcess(argv, environment);
    // On a loaded machine Wine now and then fails to start the program at
    // all: exit code 1 and nothing printed, which the program itself never
    // answers. Such a start is tried again, twice at most.
    for (int retry = 0; underWine() && retry < 2 && result.exitCode == 1 && result.out.empty() && result.err.empty();
         ++retry)
        result = runProcess(argv, environment);
    return result;
}

ProcessResult runSigbridOnWindowsStack(
    const std::vector<std::string>& args, const std::map<std::string, std::string>& environment)
{
    if (underWine())
        return runSigbrid(args, environment);
    std::vector<std::string> argv = { "sh", "-c", "ulimit -s 1024 && exec \"$SIGBRID_EXE\" \"$@\"", "sh" };
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, environment);
}
