// Black-box tests on SoftHSM2 tokens: the fixture runs sigbrid as a caller
// does and reads the one envelope it prints.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "SoftHsmMachine.h"

class SoftHsmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!softHsmAvailable())
            GTEST_SKIP() << "SoftHSM2, pkcs11-tool or openssl missing, or not the native build";
    }

    // The "success" or the "error" member of the one-member envelope, which
    // must be there; exit code 0 and nothing on standard error.
    nlohmann::json success(const std::vector<std::string>& args) const { return member(args, "success"); }
    nlohmann::json error(const std::vector<std::string>& args) const { return member(args, "error"); }
    nlohmann::json member(const std::vector<std::string>& args, const char* name) const
    {
        const ProcessResult result = runSigbrid(args, machine_.environment());
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        const nlohmann::json document = nlohmann::json::parse(result.out);
        if (document.size() == 1 && document.contains(name))
            return document[name];
        ADD_FAILURE() << "no " << name << " alone: " << result.out;
        return nullptr;
    }

    SoftHsmMachine machine_;
};
