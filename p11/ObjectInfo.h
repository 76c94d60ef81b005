// The object listing: one record per private key, with what else on the
// token carries the same CKA_ID.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "P11Slot.h"

struct ObjectInfo {
    std::string id; // base64 of the private key's CKA_ID
    std::string label; // of the last certificate or key found with that ID
    bool publicKey = false;
    bool privateKey = false;
    bool certificate = false;
};

void to_json(nlohmann::json& json, const ObjectInfo& info);

// Logs in on the slot with `pin` ("" and "ND": without a PIN) and lists the
// token's key groups, in the module's order of its private keys.
std::vector<ObjectInfo> listObjects(P11Slot& slot, const std::string& pin);
