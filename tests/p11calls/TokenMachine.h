// A machine with scripted token modules installed at module-table paths: the
// emulated Windows directory of the Linux build, or the Wine prefix's drive C
// when the Windows build runs under Wine.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

#include "Process.h"
#include "TempDir.h"

class TokenMachine {
public:
    TokenMachine();
    // Removes the installed modules: the Wine prefix outlives the test.
    ~TokenMachine();
    TokenMachine(const TokenMachine&) = delete;
    TokenMachine& operator=(const TokenMachine&) = delete;

    // Places a copy of the mock module `variant` (p11mock, p11mock_partial,
    // p11mock_nologin) at the Windows path.
    void install(const std::string& windowsPath, const std::string& variant = "p11mock");
    void script(const nlohmann::json& script);
    // Variables that the next runs get besides, or instead of, the machine's own.
    void addEnvironment(const std::map<std::string, std::string>& variables) { environment_ = variables; }

    // Runs sigbrid with a fresh call log; checks exit code 0 and a silent
    // standard error, and answers standard output.
    std::string run(const std::vector<std::string>& args);

    // The calls of the last run, one log line each.
    std::vector<std::string> calls() const;

private:
    std::string hostPath(const std::string& windowsPath) const;
    // How the module reads a path of this host.
    static std::string modulePath(const std::string& hostPath);

    TempDir dir_;
    std::string scriptPath_;
    std::string logPath_;
    std::vector<std::string> installed_;
    std::map<std::string, std::string> environment_;
};
