// What the in-process targets share: an emulated machine of their own, and
// the one check every request's answer must pass.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ArgVector.h"
#include "Dispatcher.h"
#include "Envelope.h"
#include "P11Store.h"

// A fresh machine directory for this process; answers its path.
inline std::string useFreshMachine()
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/sigbrid-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    setenv("SIGBRID_WINROOT", pattern.c_str(), 1);
    return pattern;
}

// Runs the request as the program does and insists on one envelope of one
// member that parses back as JSON.
inline Json answer(const std::vector<std::string>& args)
{
    const Json envelope = dispatch(ArgVector(args));
    // Requests that fail before the store is finalized leave it behind.
    P11Store::discard();
    const Json printed = Json::parse(serializeEnvelope(envelope));
    if (!printed.is_object() || printed.size() != 1 || !(printed.contains("success") || printed.contains("error")))
        std::abort();
    return printed;
}
