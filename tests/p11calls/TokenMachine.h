// A machine with scripted token modules installed at module-table paths: the
// emulated Windows directory of the Linux build, or the Wine prefix's drive C
// when the Windows build runs under Wine.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

#include "WindowsMachine.h"

class TokenMachine : public WindowsMachine {
public:
    TokenMachine();

    // Places a copy of the mock module `variant` (p11mock, p11mock_partial,
    // p11mock_nologin) at the Windows path.
    void install(const std::string& windowsPath, const std::string& variant = "p11mock");
    void script(const nlohmann::json& script);
    // Variables that the next runs get besides, or instead of, the machine's own.
    void addEnvironment(const std::map<std::string, std::string>& variables);

    // Runs sigbrid with a fresh call log; checks exit code 0 and a silent
    // standard error, and answers standard output.
    std::string run(const std::vector<std::string>& args);

    // The calls of the last run, one log line each.
    std::vector<std::string> calls() const;

private:
    std::string scriptPath_;
    std::string logPath_;
};
