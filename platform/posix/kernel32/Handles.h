// Handle tables of the stand-in: a handle is a number that names one object
// of one kind, never reused in a process, so a stale or foreign handle is
// refused instead of followed.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>

#include <windows.h>

namespace standin {

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
        const ULONG_PTR handle = next_++;
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    T* find(ULONG_PTR handle) const
    {
        auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second.get();
    }

    bool remove(ULONG_PTR handle) { return objects_.erase(handle) == 1; }

private:
    ULONG_PTR next_;
    std::map<ULONG_PTR, std::unique_ptr<T>> objects_;
};

// Sets the last error and answers FALSE, the usual way out of a failing call.
inline BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

}  // namespace standin
