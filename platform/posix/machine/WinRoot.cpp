#include "machine/WinRoot.h"

#include <cctype>
#include <cstdlib>

namespace standin {

std::string winRoot()
{
    if (const char* root = std::getenv("SIGBRID_WINROOT"); root && *root)
        return root;
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = std::string(home) + "/.local/share";
    else
        data = ".";
    return data + "/sigbrid/winroot";
}

std::string hostPath(const std::string& windowsPath)
{
    std::string path = windowsPath;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    const bool hasDrive = path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    if (!hasDrive)
        return path;
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    std::string rest = path.substr(2);
    if (rest.empty() || rest[0] != '/')
        rest.insert(rest.begin(), '/');
    return winRoot() + "/drive_" + drive + rest;
}

}  // namespace standin
