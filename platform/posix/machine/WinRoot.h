// The emulated Windows machine of the Linux stand-in: one directory, named by
// SIGBRID_WINROOT (default: $XDG_DATA_HOME/sigbrid/winroot), holds its state.
#pragma once

#include <string>

namespace standin {

// The machine's directory, without a trailing slash.
std::string winRoot();

// Where a Windows path lives on this host: "C:\A\b.dll" is
// "<winRoot>/drive_c/A/b.dll". Paths without a drive letter only have their
// backslashes turned into slashes.
std::string hostPath(const std::string& windowsPath);

}  // namespace standin
