// Handle tables of the stand-in: a handle is a number that names one object
// of one kind, never reused in a process, so a stale or foreign handle is
// refused instead of followed.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <windows.h>

namespace standin {

// Safe to call from any thread; a handle is used only by the thread that
// made it (the product shares none between threads), and one used by
// another thread stops the program.
template <typename T>
class HandleTable {
public:
    explicit HandleTable(ULONG_PTR base) : next_(base) {}
    // The tables go when the process ends: a handle still open then leaked,
    // and the stand-in stops the program at it.
    ~HandleTable()
    {
        if (!objects_.empty())
            std::abort();
    }
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    ULONG_PTR add(std::unique_ptr<T> object)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const ULONG_PTR handle = next_++;
        objects_.emplace(handle, Entry { std::this_thread::get_id(), std::move(object) });
        return handle;
    }

    T* find(ULONG_PTR handle) const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = owned(handle);
        return it == objects_.end() ? nullptr : it->second.object.get();
    }

    bool remove(ULONG_PTR handle)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = owned(handle);
        if (it == objects_.end())
            return false;
        objects_.erase(it);
        return true;
    }

private:
    struct Entry {
        std::thread::id owner;
        std::unique_ptr<T> object;
    };

    // The handle's entry, or none; another thread's stops the program.
    typename std::map<ULONG_PTR, Entry>::const_iterator owned(ULONG_PTR handle) const
    {
        const auto it = objects_.find(handle);
        if (it != objects_.end() && it->second.owner != std::this_thread::get_id())
            std::abort();
        return it;
    }

    mutable std::mutex mutex_;
    ULONG_PTR next_;
    std::map<ULONG_PTR, Entry> objects_;
};

// Sets the last error and answers FALSE, the usual way out of a failing call.
inline BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

}  // namespace standin
