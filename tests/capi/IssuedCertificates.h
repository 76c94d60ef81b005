// Certificates that a throw-away CA issues, each with the record that a
// certificate listing gives of it (its thumbprint, key link and token aside):
// an e-CPF and an e-CNPJ as ICP-Brasil issues them, one whose taxpayer fields
// are malformed, and one without alternative name or key usage whose subject
// needs every escape.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct IssuedCertificate {
    std::string der;
    nlohmann::json record;
};

const std::vector<IssuedCertificate>& issuedCertificates();
