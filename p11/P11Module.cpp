#include "P11Module.h"

#include <algorithm>

namespace {

// A module reporting more slots than this is not believed; the list is cut.
constexpr CK_ULONG kSlotListLimit = 4096;

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// One request per process, on one thread: the calls made so far.
unsigned long callsMade = 0;

} // namespace

P11Module::P11Module(std::string type, std::string firstPath, std::string secondPath)
    : type_(std::move(type))
    , firstPath_(std::move(firstPath))
    , secondPath_(std::move(secondPath))
{
}

void P11Module::resetCallBudget() { callsMade = 0; }

void P11Module::chargeCall()
{
    if (callsMade >= kModuleCallBudget)
        throw CallBudgetExceeded();
    ++callsMade;
}

FARPROC P11Module::lookUp(const char* name) const { return library_ ? GetProcAddress(library_.get(), name) : nullptr; }

const std::string* P11Module::installedPath() const
{
    if (fileExists(secondPath_))
        return &secondPath_;
    if (fileExists(firstPath_))
        return &firstPath_;
    return nullptr;
}

void P11Module::openLibrary()
{
    const std::string* path = installedPath();
    if (!path)
        throw std::runtime_error(kLoadFileMissing);
    loadedFromFirstPath_ = false;
    library_.reset(LoadLibraryA(path->c_str()));
    // Program Files is not redirected for a 32-bit program: where a vendor
    // installed both, the native path holds the 64-bit module, which the
    // 32-bit program cannot load, and the 32-bit path the one it can.
    if (!library_ && path == &secondPath_ && fileExists(firstPath_)) {
        library_.reset(LoadLibraryA(firstPath_.c_str()));
        loadedFromFirstPath_ = library_ != nullptr;
    }
    if (!library_)
        throw std::runtime_error(kLoadLibraryFailed);
}

CK_RV P11Module::initialize()
{
    // A module without C_Initialize is treated as one that refused it.
    const CK_RV rv = call(p11::C_Initialize, IfMissing::Answer, NULL_PTR);
    if (rv != CKR_OK)
        unloadModule();
    return rv;
}

void P11Module::unloadModule()
{
    if (!library_)
        return;
    call(p11::C_Finalize, IfMissing::Answer, NULL_PTR);
    library_.reset();
}

std::vector<CK_SLOT_ID> P11Module::getSlotList() const
{
    CK_ULONG reported = 0;
    if (call(p11::C_GetSlotList, IfMissing::Answer, CK_TRUE, NULL_PTR, &reported) != CKR_OK)
        return {};
    const CK_ULONG allocated = std::min(reported, kSlotListLimit);
    // At least one element, so that the second call always gets a buffer.
    std::vector<CK_SLOT_ID> slots(std::max<CK_ULONG>(allocated, 1), 0);
    CK_ULONG count = allocated;
    call(p11::C_GetSlotList, IfMissing::Answer, CK_TRUE, slots.data(), &count);
    slots.resize(std::min(count, allocated));
    return slots;
}
