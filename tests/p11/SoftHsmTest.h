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
            GTEST_SKIP() << "SoftHSM2 or openssl missing, or not the native build";
    }

    // The records of a listing: the "success" member, alone in its envelope.
    nlohmann::json listed(const std::vector<std::string>& args) const
    {
        const nlohmann::json envelope = nlohmann::json::parse(machine_.sigbrid(args).out);
        EXPECT_EQ(envelope.size(), 1u) << envelope;
        return envelope.value("success", nlohmann::json());
    }

    SoftHsmMachine machine_;
};
