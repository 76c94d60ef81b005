#include "Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "TempDir.h"

extern char** environ;

namespace {

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

} // namespace

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
    const std::string& input)
{
    // The output goes to files, which the child alone opens: no other
    // caller's child holds them, and a daemon that the child starts (wine64
    // starts a wineserver) may keep them without making the caller wait.
    const TempDir files;
    const std::string in = files.path() + "/in", out = files.path() + "/out", err = files.path() + "/err";
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(environment);
    auto argPointers = pointers(args);
    auto envPointers = pointers(env);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        throw std::runtime_error("cannot wait for " + args[0]);
    return { readFile(out), readFile(err), WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status) };
}

bool underWine()
{
    const char* runner = std::getenv("SIGBRID_RUNNER");
    return runner && *runner;
}

ProcessResult runSigbrid(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment,
    const std::string& input)
{
    const char* exe = std::getenv("SIGBRID_EXE");
    if (!exe || !*exe)
        throw std::runtime_error("SIGBRID_EXE is not set");
    std::vector<std::string> argv;
    if (underWine())
        argv.push_back(std::getenv("SIGBRID_RUNNER"));
    argv.push_back(exe);
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result = runProcess(argv, environment, input);
    // On a loaded machine Wine now and then fails to start the program at
    // all: exit code 1 and nothing printed, which the program itself never
    // answers. Such a start is tried again, twice at most.
    for (int retry = 0; underWine() && retry < 2 && result.exitCode == 1 && result.out.empty() && result.err.empty();
         ++retry)
        result = runProcess(argv, environment, input);
    return result;
}

ProcessResult runSigbridOnWindowsStack(const std::vector<std::string>& args,
    const std::map<std::string, std::string>& environment, const std::string& input)
{
    if (underWine())
        return runSigbrid(args, environment, input);
    std::vector<std::string> argv = { "sh", "-c", "ulimit -s 1024 && exec \"$SIGBRID_EXE\" \"$@\"", "sh" };
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, environment, input);
}
