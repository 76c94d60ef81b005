// The items of a signList request, signed in list order with one key. A long
// list on a key that software holds is split into runs of consecutive items,
// each signed on a thread of its own with a key and hashes of its own; a
// card's key signs every item on the calling thread, as the card would make
// a second thread wait or ask for the PIN again.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "CertificateKey.h"
#include "SigningAlgorithm.h"

// The answer text; the first item that fails, in list order, raises its
// failure, whatever thread signed it. The threads end before it returns.
std::string signListItems(const std::string& thumbprint, const CertificateKey& key, const SigningAlgorithm& algorithm,
                          const nlohmann::json& list);
