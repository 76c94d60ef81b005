// The persisted system certificate stores of the emulated machine:
//   <winroot>/certstores/<location>/<store>/<entry>/certificate.cer   DER
//   <winroot>/certstores/<location>/<store>/<entry>/properties        records
// <entry> is an 8-digit number taken with an exclusive directory creation, so
// concurrent adders never share one; the numbers give the installation
// order, and stores list the newest first. An entry without certificate.cer
// (an add that was interrupted) is not part of the store.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "crypt32/Bytes.h"

namespace standin {

using Properties = std::map<DWORD, Bytes>;

struct StoreEntryFiles {
    std::string id;
    Bytes encoded;
    Properties properties;
};

// "<winroot>/certstores/CurrentUser/MY" for ("CurrentUser", "MY").
std::string storeDirectory(const std::string& location, const std::string& storeName);

// The complete entries in installation order; unreadable parts are skipped.
std::vector<StoreEntryFiles> loadStoreEntries(const std::string& directory);

// Creates a new entry holding `encoded` and `properties`; answers its id.
// Throws CryptFailure when the machine's directory cannot be written.
std::string addStoreEntry(const std::string& directory, const Bytes& encoded, const Properties& properties);

void saveEntryProperties(const std::string& directory, const std::string& id, const Properties& properties);

} // namespace standin
