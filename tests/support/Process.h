// Runs the sigbrid executable as a caller does: arguments on the command
// line, standard input given, standard output and standard error read back.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

// Runs `argv` (argv[0] is the program path) with `environment` added to this
// process's environment and `input` on its standard input.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {}, const std::string& input = "");

// The executable under test: $SIGBRID_EXE, started through $SIGBRID_RUNNER
// when that is set (wine64 for the Windows build).
ProcessResult runSigbrid(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment = {}, const std::string& input = "");

// The same on a main-thread stack of 1 MiB, Windows' default, for the Linux
// build; the Windows build has the stack that its header asks for.
ProcessResult runSigbridOnWindowsStack(const std::vector<std::string>& args,
    const std::map<std::string, std::string>& environment = {}, const std::string& input = "");

// The whole content of a file, as bytes.
std::string readFile(const std::string& path);

// True when the executable under test is the Windows build run under Wine.
bool underWine();
