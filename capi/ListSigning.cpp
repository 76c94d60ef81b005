#include "ListSigning.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "Encoding.h"
#include "SignedList.h"

namespace {

using Json = nlohmann::json;

// A thread pays for its key and its start only with this many items or more.
constexpr std::size_t kItemsPerThread = 64;
constexpr std::size_t kMostThreads = 16;

Bytes signItem(const CertificateKey& key, const SigningAlgorithm& algorithm, const Json& item)
{
    const Bytes value = base64Decode(listMember(item, "value").get<std::string>());
    const HashObject hash = key.createHash(algorithm);
    key.putValue(hash, algorithm, value, listMember(item, "hashedData").get<bool>());
    return key.signHash(hash, algorithm);
}

// Consecutive items of the list, and what signing them gave: a signature for
// each item before the first failure, and that failure.
struct Run {
    Run(const std::string& thumbprint, const SigningAlgorithm& algorithm, const Json& list, std::size_t begin,
        std::size_t end)
        : thumbprint(&thumbprint), algorithm(&algorithm), list(&list), begin(begin), end(end)
    {
    }

    const std::string* thumbprint;
    const SigningAlgorithm* algorithm;
    const Json* list;
    std::size_t begin;
    std::size_t end;
    std::vector<Bytes> signatures;
    std::exception_ptr failure;
    // Whether the run was signed; a run whose thread could not start, or
    // whose key did not open, is signed on the calling thread afterwards, so
    // that the answer stays the one that a single thread gives.
    bool done = false;

    void sign(const CertificateKey& key)
    {
        try {
            for (std::size_t i = begin; i < end; ++i)
                signatures.push_back(signItem(key, *algorithm, (*list)[i]));
        } catch (...) {
            failure = std::current_exception();
        }
    }
};

DWORD WINAPI signOnOwnKey(LPVOID parameter)
{
    Run& run = *static_cast<Run*>(parameter);
    try {
        const CertificateKey key(*run.thumbprint);
        run.sign(key);
        run.done = true;
    } catch (...) {
        // The key did not open: the run is left to the calling thread.
    }
    return 0;
}

// A started thread, waited for and closed when its owner goes: no thread
// outlives the request's answer.
class SigningThread {
public:
    explicit SigningThread(Run& run) : handle_(CreateThread(nullptr, 0, signOnOwnKey, &run, 0, nullptr)) {}
    SigningThread(const SigningThread&) = delete;
    SigningThread& operator=(const SigningThread&) = delete;
    SigningThread(SigningThread&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    ~SigningThread()
    {
        if (handle_) {
            WaitForSingleObject(handle_, INFINITE);
            CloseHandle(handle_);
        }
    }

private:
    HANDLE handle_;
};

// As many threads as Windows has processors, within the limits above.
std::size_t threadCount(std::size_t items)
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    return std::min({static_cast<std::size_t>(system.dwNumberOfProcessors), kMostThreads, items / kItemsPerThread});
}

}  // namespace

std::string signListItems(const std::string& thumbprint, const CertificateKey& key, const SigningAlgorithm& algorithm,
                          const Json& list)
{
    SignedList answer(list.size());
    const std::size_t threads = list.is_array() && key.inSoftware() ? threadCount(list.size()) : 1;
    if (threads <= 1) {
        for (const Json& item : list)
            answer.add(item, base64Encode(signItem(key, algorithm, item)));
        return std::move(answer).text();
    }
    std::vector<Run> runs;
    for (std::size_t t = 0; t < threads; ++t)
        runs.emplace_back(thumbprint, algorithm, list, list.size() * t / threads, list.size() * (t + 1) / threads);
    {
        // The first run is the calling thread's, on the key it opened.
        std::vector<SigningThread> started;
        started.reserve(threads - 1);
        for (std::size_t t = 1; t < threads; ++t)
            started.emplace_back(runs[t]);
        runs[0].sign(key);
        runs[0].done = true;
    }
    for (Run& run : runs) {
        if (!run.done)
            run.sign(key);
        if (run.failure)
            std::rethrow_exception(run.failure);
        for (std::size_t i = run.begin; i < run.end; ++i)
            answer.add(list[i], base64Encode(run.signatures[i - run.begin]));
        run.signatures = {};
    }
    return std::move(answer).text();
}
