// kernel32's threads on Linux: std::thread behind a handle, and the number of
// processors that the emulated machine reports.
#include "kernel32/Threads.h"

#include <windows.h>

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "kernel32/Handles.h"
#include "machine/StateFiles.h"
#include "machine/WinRoot.h"

namespace {

constexpr ULONG_PTR kThreadBase = 0x70000;
constexpr DWORD kAllocationGranularity = 64 * 1024;
constexpr char kProcessorsFile[] = "/processors";

struct ThreadObject {
    std::thread thread;
};

standin::HandleTable<ThreadObject>& threadHandles()
{
    static standin::HandleTable<ThreadObject> table(kThreadBase);
    return table;
}

// The machine's file "processors" says how many it has: a test sets one
// or several; without it, the host's.
DWORD processorCount()
{
    std::string text;
    if (standin::readFile(standin::winRoot() + kProcessorsFile, text)) {
        const unsigned long count = std::strtoul(text.c_str(), nullptr, 10);
        if (count > 0 && count <= 64)
            return static_cast<DWORD>(count);
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<DWORD>(online) : 1;
}

}  // namespace

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo)
{
    *lpSystemInfo = SYSTEM_INFO {};
    lpSystemInfo->dwPageSize = static_cast<DWORD>(::sysconf(_SC_PAGESIZE));
    lpSystemInfo->dwAllocationGranularity = kAllocationGranularity;
    lpSystemInfo->dwNumberOfProcessors = processorCount();
    const DWORD bits = lpSystemInfo->dwNumberOfProcessors;
    lpSystemInfo->dwActiveProcessorMask = bits >= sizeof(DWORD_PTR) * 8 ? ~DWORD_PTR {} : (DWORD_PTR { 1 } << bits) - 1;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (!lpStartAddress || dwCreationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_unique<ThreadObject>();
    object->thread = std::thread(lpStartAddress, lpParameter);
    if (lpThreadId)
        *lpThreadId = 0;
    return reinterpret_cast<HANDLE>(threadHandles().add(std::move(object)));
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    ThreadObject* object = threadHandles().find(reinterpret_cast<ULONG_PTR>(hHandle));
    // Only the wait for a thread's end is stood in for.
    if (!object || dwMilliseconds != INFINITE) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (object->thread.joinable())
        object->thread.join();
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    const auto handle = reinterpret_cast<ULONG_PTR>(hObject);
    ThreadObject* object = threadHandles().find(handle);
    if (!object)
        return standin::fail(ERROR_INVALID_HANDLE);
    // A thread whose handle is closed runs on, as on Windows.
    if (object->thread.joinable())
        object->thread.detach();
    threadHandles().remove(handle);
    return TRUE;
}

namespace standin {

void oneThreadPerCard(const std::string& card)
{
    static std::mutex mutex;
    static std::map<std::string, std::thread::id> users;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto [user, first] = users.emplace(card, std::this_thread::get_id());
    if (!first && user->second != std::this_thread::get_id())
        std::abort();
}

}  // namespace standin
