#include "machine/FaultSwitch.h"

#include <windows.h>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace standin {
namespace {

constexpr char kKill[] = "kill";

struct Fault {
    std::string function;
    unsigned long call;  // 0: every call
    DWORD code;
    bool kill;
};

// Entries that do not parse are left out: a mistyped switch fails nothing.
std::vector<Fault> parseFaults(const std::string& text)
{
    std::vector<Fault> faults;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string entry = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0)
            continue;
        const std::string codeText = entry.substr(equals + 1);
        Fault fault{entry.substr(0, equals), 0, 0, codeText == kKill};
        char* rest = nullptr;
        const unsigned long code = std::strtoul(codeText.c_str(), &rest, 0);
        if (!fault.kill && (codeText.empty() || *rest != '\0'))
            continue;
        fault.code = static_cast<DWORD>(code);
        if (const std::size_t hash = fault.function.find('#'); hash != std::string::npos) {
            const std::string callText = fault.function.substr(hash + 1);
            fault.call = std::strtoul(callText.c_str(), &rest, 10);
            if (callText.empty() || *rest != '\0' || fault.call == 0)
                continue;
            fault.function.resize(hash);
        }
        faults.push_back(fault);
    }
    return faults;
}

class FaultSwitch {
public:
    bool strike(const char* function)
    {
        const char* setting = std::getenv("SIGBRID_FAULTS");
        if (!setting || !*setting)
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        // A changed setting starts the call counts afresh.
        if (setting != text_) {
            text_ = setting;
            faults_ = parseFaults(text_);
            calls_.clear();
        }
        const unsigned long call = ++calls_[function];
        for (const Fault& fault : faults_) {
            if (fault.function == function && (fault.call == 0 || fault.call == call)) {
                if (fault.kill)
                    ::raise(SIGKILL);
                SetLastError(fault.code);
                return true;
            }
        }
        return false;
    }

private:
    std::mutex mutex_;
    std::string text_;
    std::vector<Fault> faults_;
    std::map<std::string, unsigned long> calls_;
};

}  // namespace

bool injectFault(const char* function)
{
    static FaultSwitch faultSwitch;
    return faultSwitch.strike(function);
}

}  // namespace standin
