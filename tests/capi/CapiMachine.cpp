#include "CapiMachine.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <openssl/evp.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <signal.h>
#include <unistd.h>

#include "KeyMaterial.h"

namespace {

// The stand-in's providers: Windows' RSA software providers and smart-card
// providers installed beside them, among lines that name none.
constexpr const char* kStandInProviders = "# the CryptoAPI tests' machine\n"
                                          "1 Microsoft Base Smart Card Crypto Provider\n"
                                          "\n"
                                          "24 Microsoft Enhanced RSA and AES Cryptographic Provider\r\n"
                                          "not a line\n"
                                          "1 Microsoft Strong Cryptographic Provider\n"
                                          "1 eToken Base Cryptographic Provider\n"
                                          "1 eToken Base Cryptographic Provider para Microsoft A\xc3\xa7\xc3\xa3o\n"
                                          "1 SafeSign Standard Cryptographic Service Provider\n";

// Wine has no smart-card providers; these names are served by its software
// provider, as a card vendor's CSP would be registered. The file is read in
// the ANSI code page, 1252.
std::string wineProviders()
{
    std::string file = "REGEDIT4\n";
    for (const char* name : { "eToken Base Cryptographic Provider", "Microsoft Base Smart Card Crypto Provider",
             "eToken Base Cryptographic Provider para Microsoft A\xe7\xe3o" })
        file += std::string("\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\") + name
            + "]\n\"Image Path\"=\"rsaenh.dll\"\n\"Type\"=dword:00000001\n\"SigInFile\"=dword:00000000\n";
    return file;
}

} // namespace

CapiMachine::CapiMachine()
{
    // Wine reads the command line in the locale's character set.
    environment_["LC_ALL"] = "C.UTF-8";
    if (underWine()) {
        static bool registered = false;
        if (!registered) {
            const std::string file = writeFile("providers.reg", wineProviders());
            const ProcessResult result
                = runProcess({ std::getenv("SIGBRID_RUNNER"), "reg", "import", programPath(file) }, environment_);
            if (result.exitCode != 0)
                throw std::runtime_error("reg import failed: " + result.err);
            registered = true;
        }
    } else {
        std::ofstream(directory() + "/providers", std::ios::binary) << kStandInProviders;
    }
}

std::string CapiMachine::newContainerName(const std::string& stem)
{
    static std::atomic<int> counter { 0 };
    return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::string CapiMachine::keyPair(
    const std::string& provider, int type, const std::string& container, const char* bits) const
{
    return success({ "capi", "repo", "createKeyPair", provider, std::to_string(type), container, "false", "false", bits,
        "-", "-", "false" });
}

void CapiMachine::createContainer(const std::string& provider, int type, const std::string& container)
{
    EXPECT_EQ(unbase64(keyPair(provider, type, container, "1024")).substr(0, 1), "\x06"); // PUBLICKEYBLOB
}

void CapiMachine::createEmptyContainer(const std::string& provider, int type, const std::string& container)
{
    if (underWine()) {
        EXPECT_EQ(runProcess({ std::getenv("SIGBRID_RUNNER"), "reg", "add",
                                 "HKCU\\Software\\Wine\\Crypto\\RSA\\" + container, "/f" },
                      environment_)
                      .exitCode,
            0);
        return;
    }
    createContainer(provider, type, container);
    // A KSP's key is one file of the key's name.
    std::filesystem::path key;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory() + "/crypto"))
        if (type == kKspType ? entry.path().filename() == container && entry.is_regular_file()
                             : entry.path().filename() == "exchange.key" && entry.path().parent_path().filename() == container)
            key = entry.path();
    EXPECT_TRUE(std::filesystem::remove(key)) << container;
}

Identity CapiMachine::addCertificate(const std::string& container, const std::string& provider, int type, EVP_PKEY* key)
{
    static std::atomic<long> serial { static_cast<long>(getpid()) * 1000 };
    const std::string der = selfSignedCertificate(++serial, "sigbrid test " + std::to_string(serial.load()), key);
    EXPECT_EQ(success({ "capi", "repo", "importCertificate", provider, std::to_string(type), container, base64(der) }),
        "{\"result\":\"ok\"}");
    return { sha1Hex(der), der, container };
}

Identity CapiMachine::install(const std::string& provider, int type)
{
    const std::string container = newContainerName();
    return addCertificate(
        container, provider, type, blobKey(unbase64(keyPair(provider, type, container, "1024"))).get());
}

void CapiMachine::addUnlinked(const std::string& der) const
{
    // Entry 0 sorts before every entry that the stand-in numbers itself.
    const std::string entry = directory() + "/certstores/CurrentUser/MY/00000000";
    std::filesystem::create_directories(entry);
    std::ofstream(entry + "/certificate.cer", std::ios::binary) << der;
}

int CapiMachine::copiesInStore(const std::string& der) const
{
    int copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory() + "/certstores/CurrentUser/MY"))
        copies += readFile(entry.path().string() + "/certificate.cer") == der;
    return copies;
}

std::string CapiMachine::containerFile(const std::string& container, const std::string& file) const
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory() + "/crypto"))
        if (file.empty() ? entry.path().filename() == container && entry.is_regular_file()
                         : entry.path().filename() == file && entry.path().parent_path().filename() == container)
            return readFile(entry.path());
    return "";
}

ProcessResult CapiMachine::sigbrid(const std::vector<std::string>& args,
    const std::map<std::string, std::string>& extra, const std::string& input) const
{
    auto environment = environment_;
    for (const auto& [key, value] : extra)
        environment[key] = value;
    ProcessResult result = runSigbridOnWindowsStack(args, environment, input);
    // The fault switch's kills end a request without an answer.
    const bool killed
        = result.exitCode == 128 + SIGKILL && environment["SIGBRID_FAULTS"].find("=kill") != std::string::npos;
    EXPECT_TRUE(result.exitCode == 0 || killed) << result.exitCode;
    EXPECT_EQ(result.err, "");
    return result;
}

// The text of the envelope's one member `name`; empty and a test failure
// when the envelope is another.
std::string CapiMachine::member(const std::string& name, const std::vector<std::string>& args,
    const std::map<std::string, std::string>& extra, const std::string& input) const
{
    const std::string out = sigbrid(args, extra, input).out;
    const auto envelope = nlohmann::json::parse(out, nullptr, false);
    if (envelope.is_object() && envelope.size() == 1 && envelope.contains(name))
        return envelope[name].is_string() ? envelope[name].get<std::string>() : envelope[name].dump();
    ADD_FAILURE() << "expected " << name << ", got " << out;
    return "";
}

bool verifies(const Identity& identity, const std::string& digestName, const std::string& data,
    const std::string& signature, bool isDigest)
{
    const Pkey key = certificateKey(identity.certificate);
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
    const std::string digest = isDigest ? data : digestOf(digestName, data), bytes = unbase64(signature);
    return context && EVP_PKEY_verify_init(context.get()) == 1
        && EVP_PKEY_CTX_set_signature_md(context.get(), EVP_get_digestbyname(digestName.c_str())) == 1
        && EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
               reinterpret_cast<const unsigned char*>(digest.data()), digest.size())
        == 1;
}
