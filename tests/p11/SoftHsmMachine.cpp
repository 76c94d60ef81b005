#include "SoftHsmMachine.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return "";
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

} // namespace

bool softHsmAvailable()
{
    return fs::exists(kSoftHsmModule) && !underWine()
        && runProcess({ "sh", "-c", "command -v softhsm2-util && command -v pkcs11-tool && command -v openssl" })
               .exitCode
        == 0;
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

ProcessResult SoftHsmMachine::sigbrid(const std::vector<std::string>& args) const
{
    return runSigbrid(args, environment_);
}

std::string SoftHsmMachine::initToken(const std::string& label, const std::string& pin) const
{
    tool({ "softhsm2-util", "--init-token", "--free", "--label", label, "--so-pin", "87654321", "--pin", pin });
    for (const ShownToken& token : shownTokens())
        if (token.label == label)
            return token.serial;
    throw std::runtime_error("token " + label + " not shown");
}

std::vector<ShownToken> SoftHsmMachine::shownTokens() const
{
    // "Slot <id>" opens a slot; "Key: value" lines follow, the token's after
    // "Token info:" (both parts have a "Manufacturer ID").
    std::istringstream lines(tool({ "softhsm2-util", "--show-slots" }).out);
    std::vector<std::map<std::string, std::string>> slots;
    std::string part;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (line.rfind("Slot ", 0) == 0) {
            slots.push_back({ { "id", trimmed(line.substr(5)) } });
            part = "slot ";
        } else if (!slots.empty() && colon != std::string::npos) {
            const std::string key = trimmed(line.substr(0, colon));
            if (key == "Token info")
                part = "token ";
            slots.back()[part + key] = trimmed(line.substr(colon + 1));
        }
    }
    std::vector<ShownToken> tokens;
    for (auto& slot : slots)
        if (slot["token Initialized"] == "yes")
            tokens.push_back({ slot["id"], slot["slot Description"], slot["slot Manufacturer ID"], slot["token Label"],
                slot["token Model"], slot["token Serial number"] });
    return tokens;
}

void SoftHsmMachine::keyPair(
    const std::string& token, const std::string& pin, const std::string& idHex, const std::string& label) const
{
    tool({ "pkcs11-tool", "--module", kSoftHsmModule, "--token-label", token, "--login", "--pin", pin, "--keypairgen",
        "--key-type", "rsa:2048", "--id", idHex, "--label", label });
}

void SoftHsmMachine::writeCertificate(const std::string& token, const std::string& pin, const std::string& derPath,
    const std::string& idHex, const std::string& label) const
{
    tool({ "pkcs11-tool", "--module", kSoftHsmModule, "--token-label", token, "--login", "--pin", pin, "--write-object",
        derPath, "--type", "cert", "--id", idHex, "--label", label });
}

std::string SoftHsmMachine::makeCertificate(const std::string& name) const
{
    const std::string der = dir_.path() + "/" + name + ".der";
    tool({ "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir_.path() + "/" + name + ".key",
        "-subj", "/CN=" + name, "-days", "2", "-outform", "DER", "-out", der });
    return der;
}

std::string SoftHsmMachine::fingerprint(const std::string& derPath)
{
    const ProcessResult result
        = runProcess({ "openssl", "x509", "-inform", "DER", "-in", derPath, "-noout", "-fingerprint", "-sha1" });
    if (result.exitCode != 0)
        throw std::runtime_error("openssl x509 failed: " + result.err);
    // "sha1 Fingerprint=AB:CD:..." (the prefix's case differs between versions)
    std::string hex;
    for (char c : trimmed(result.out.substr(result.out.find('=') + 1)))
        if (c != ':')
            hex.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return hex;
}
