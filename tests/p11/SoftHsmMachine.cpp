#include "SoftHsmMachine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Encoding.h"

namespace fs = std::filesystem;

bool softHsmAvailable()
{
    return fs::exists(kSoftHsmModule) && !underWine()
        && runProcess({ "sh", "-c", "command -v softhsm2-util && command -v openssl" }).exitCode == 0;
}

SoftHsmMachine::SoftHsmMachine()
{
    fs::create_directories(dir_.path() + "/tokens");
    environment_["SOFTHSM2_CONF"] = dir_.path() + "/softhsm2.conf";
    std::ofstream(environment_["SOFTHSM2_CONF"]) << "directories.tokendir = " << dir_.path() << "/tokens\n"
                                                 << "objectstore.backend = file\n"
                                                 << "log.level = ERROR\n";
}

ProcessResult SoftHsmMachine::tool(const std::vector<std::string>& argv) const
{
    ProcessResult result = runProcess(argv, environment_);
    if (result.exitCode != 0)
        throw std::runtime_error(argv[0] + " failed: " + result.err + result.out);
    return result;
}

std::string SoftHsmMachine::initToken(const std::string& label, const std::string& pin) const
{
    tool({ "softhsm2-util", "--init-token", "--free", "--label", label, "--so-pin", "87654321", "--pin", pin });
    for (const ShownToken& token : shownTokens())
        if (token.at("token Label") == label)
            return token.at("token Serial number");
    throw std::runtime_error("token " + label + " not shown");
}

std::vector<ShownToken> SoftHsmMachine::shownTokens() const
{
    // "Slot <id>" opens a slot; "Key: value" lines follow, the token's after
    // "Token info:" (both parts have a "Manufacturer ID").
    std::istringstream lines(tool({ "softhsm2-util", "--show-slots" }).out);
    std::vector<ShownToken> slots;
    std::string part;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (line.rfind("Slot ", 0) == 0) {
            slots.push_back({ { "id", trim(line.substr(5)) } });
            part = "slot ";
        } else if (!slots.empty() && colon != std::string::npos) {
            const std::string key = trim(line.substr(0, colon));
            if (key == "Token info")
                part = "token ";
            slots.back()[part + key] = trim(line.substr(colon + 1));
        }
    }
    slots.erase(
        std::remove_if(slots.begin(), slots.end(), [](ShownToken& slot) { return slot["token Initialized"] != "yes"; }),
        slots.end());
    return slots;
}
