#include "TokenMachine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Process.h"

namespace fs = std::filesystem;

TokenMachine::TokenMachine()
    : scriptPath_(dir_.path() + "/script.json")
    , logPath_(dir_.path() + "/calls.log")
{
    environment_["P11MOCK_SCRIPT"] = programPath(scriptPath_);
    environment_["P11MOCK_LOG"] = programPath(logPath_);
    script(nlohmann::json::object());
}

void TokenMachine::install(const std::string& windowsPath, const std::string& variant)
{
    const char* modules = std::getenv("P11MOCK_DIR");
    if (!modules || !*modules)
        throw std::runtime_error("P11MOCK_DIR is not set");
    copy(windowsPath, (fs::path(modules) / (variant + (underWine() ? ".dll" : ".so"))).string());
}

void TokenMachine::script(const nlohmann::json& script)
{
    std::ofstream(scriptPath_, std::ios::binary | std::ios::trunc) << script.dump();
}

void TokenMachine::addEnvironment(const std::map<std::string, std::string>& variables)
{
    for (const auto& [name, value] : variables)
        environment_[name] = value;
}

std::string TokenMachine::run(const std::vector<std::string>& args)
{
    fs::remove(logPath_);
    const ProcessResult result = runSigbrid(args, environment_);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    return result.out;
}

std::vector<std::string> TokenMachine::calls() const
{
    std::vector<std::string> lines;
    std::ifstream log(logPath_, std::ios::binary);
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    return lines;
}
