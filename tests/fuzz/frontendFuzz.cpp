// The whole front end in-process: any argument vector (arguments split at
// zero bytes) answers one envelope of one member.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>

#include "FuzzMachine.h"

namespace {

std::string machine;
unsigned long runs = 0;
// Requests that install keys and certificates make the machine grow.
constexpr unsigned long kRunsPerMachine = 2000;
// Key generation is the provider's work, slow at large sizes; small keys
// reach the same code.
constexpr int kLargestKeyBits = 1024;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    machine = useFreshMachine();
    // "@" values: standard input is empty, and files are the machine's own
    // ("@/dev/zero" would never end).
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    if (chdir(machine.c_str()) != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    if (args.size() < 3)
        return 0;
    for (const std::string& arg : args)
        if (arg.rfind('@', 0) == 0 && arg.find('/') != std::string::npos)
            return 0;
    if (args.size() > 8 && args[0] == "capi" && args[2] == "createKeyPair" && toInt(args[8]) > kLargestKeyBits)
        return 0;
    answer(args);
    if (++runs % kRunsPerMachine == 0) {
        std::filesystem::remove_all(machine);
        std::filesystem::create_directories(machine);
    }
    return 0;
}
