#include "TokenMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

// The existing entry of `directory` that Windows would take for `name`
// (letter case does not count there), or `name` itself.
std::string windowsEntry(const fs::path& directory, const std::string& name)
{
    const auto sameLetter = [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); };
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory, ignored))
        if (const std::string found = entry.path().filename().string();
            std::equal(found.begin(), found.end(), name.begin(), name.end(), sameLetter))
            return found;
    return name;
}

} // namespace

TokenMachine::TokenMachine()
    : scriptPath_(dir_.path() + "/script.json")
    , logPath_(dir_.path() + "/calls.log")
{
    script(nlohmann::json::object());
}

TokenMachine::~TokenMachine()
{
    std::error_code ignored;
    for (const auto& path : installed_)
        fs::remove(path, ignored);
}

std::string TokenMachine::hostPath(const std::string& windowsPath) const
{
    // "C:\A\b.dll": drive C of the machine, then the components.
    fs::path path = underWine() ? fs::path(environment("WINEPREFIX")) / "drive_c" : fs::path(dir_.path()) / "drive_c";
    std::istringstream components(windowsPath.substr(3));
    std::string component;
    while (std::getline(components, component, '\\'))
        path /= underWine() ? windowsEntry(path, component) : component;
    return path.string();
}

std::string TokenMachine::modulePath(const std::string& hostPath)
{
    if (!underWine())
        return hostPath;
    std::string path = "Z:" + hostPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

void TokenMachine::install(const std::string& windowsPath, const std::string& variant)
{
    const fs::path from = fs::path(environment("P11MOCK_DIR")) / (variant + (underWine() ? ".dll" : ".so"));
    const fs::path to = hostPath(windowsPath);
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    installed_.push_back(to.string());
}

void TokenMachine::script(const nlohmann::json& script)
{
    std::ofstream(scriptPath_, std::ios::binary | std::ios::trunc) << script.dump();
}

std::string TokenMachine::run(const std::vector<std::string>& args)
{
    fs::remove(logPath_);
    std::map<std::string, std::string> variables = {
        { "SIGBRID_WINROOT", dir_.path() },
        { "P11MOCK_SCRIPT", modulePath(scriptPath_) },
        { "P11MOCK_LOG", modulePath(logPath_) },
    };
    for (const auto& [name, value] : environment_)
        variables[name] = value;
    const ProcessResult result = runSigbrid(args, variables);
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
