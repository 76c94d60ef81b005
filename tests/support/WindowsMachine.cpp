#include "WindowsMachine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Process.h"

namespace fs = std::filesystem;

namespace {

// The existing entry of `directory` that Windows would take for `name`
// (letter case does not count there), or `name` itself.
std::string windowsEntry(const fs::path& directory, const std::string& name)
{
    const auto sameLetter = [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); };
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory, ignored))
        if (const std::string found = entry.path().filename().string();
            std::equal(found.begin(), found.end(), name.begin(), name.end(), sameLetter))
            return found;
    return name;
}

fs::path driveC(const std::string& root)
{
    if (!underWine())
        return fs::path(root) / "drive_c";
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix || !*prefix)
        throw std::runtime_error("WINEPREFIX is not set");
    return fs::path(prefix) / "drive_c";
}

} // namespace

WindowsMachine::WindowsMachine()
    : environment_ { { "SIGBRID_WINROOT", dir_.path() } }
{
}

WindowsMachine::~WindowsMachine()
{
    std::error_code ignored;
    for (const auto& path : placed_)
        fs::remove(path, ignored);
}

std::string WindowsMachine::programPath(const std::string& hostPath)
{
    if (!underWine())
        return hostPath;
    std::string path = "Z:" + hostPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string WindowsMachine::place(const std::string& windowsPath)
{
    fs::path path = driveC(dir_.path());
    std::istringstream components(windowsPath.substr(3));
    for (std::string component; std::getline(components, component, '\\');)
        path /= underWine() ? windowsEntry(path, component) : component;
    fs::create_directories(path.parent_path());
    // What was there goes first: writing through a link would change the
    // file that it names.
    std::error_code ignored;
    fs::remove(path, ignored);
    placed_.push_back(path.string());
    return path.string();
}

void WindowsMachine::copy(const std::string& windowsPath, const std::string& source)
{
    fs::copy_file(fs::canonical(source), place(windowsPath), fs::copy_options::overwrite_existing);
}

void WindowsMachine::link(const std::string& windowsPath, const std::string& target)
{
    fs::create_symlink(target, place(windowsPath));
}

void WindowsMachine::writeText(const std::string& windowsPath, const std::string& text)
{
    std::ofstream(place(windowsPath)) << text;
}

void WindowsMachine::makeDirectory(const std::string& windowsPath) { fs::create_directories(place(windowsPath)); }

std::string WindowsMachine::writeFile(const std::string& name, const std::string& bytes) const
{
    const std::string path = directory() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}
