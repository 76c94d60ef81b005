// An emulated Windows machine in a temporary directory: files placed at
// Windows paths of its drive C, for sigbrid run with SIGBRID_WINROOT there.
// Under Wine the drive C is the Wine prefix's, which outlives the test: the
// files placed there are removed again.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "TempDir.h"

class WindowsMachine {
public:
    WindowsMachine();
    ~WindowsMachine();
    WindowsMachine(const WindowsMachine&) = delete;
    WindowsMachine& operator=(const WindowsMachine&) = delete;

    const std::string& directory() const { return dir_.path(); }
    // Variables that sigbrid and the tools get on this machine.
    const std::map<std::string, std::string>& environment() const { return environment_; }

    // A copy of `source` at the Windows path, replacing what was there (a
    // copy is a separate library, with its own state, when the same module
    // is to be loaded under a second type code); a link to `target`; a text
    // file; a folder.
    void copy(const std::string& windowsPath, const std::string& source);
    void link(const std::string& windowsPath, const std::string& target);
    void writeText(const std::string& windowsPath, const std::string& text);
    void makeDirectory(const std::string& windowsPath);

    // Writes a file of the test's own; answers its path.
    std::string writeFile(const std::string& name, const std::string& bytes) const;
    // The parameter by which sigbrid reads the test's file `name`: "@PATH".
    std::string fromFile(const std::string& name) const { return fromHost(directory() + "/" + name); }
    // The same for any file of this host ("/dev/zero").
    static std::string fromHost(const std::string& hostPath) { return "@" + programPath(hostPath); }

protected:
    // How a program on the machine names a path of this host.
    static std::string programPath(const std::string& hostPath);

    TempDir dir_;
    std::map<std::string, std::string> environment_;

private:
    // The host path of "C:\A\b.dll", its folder made and kept for removal.
    std::string place(const std::string& windowsPath);

    std::vector<std::string> placed_;
};
