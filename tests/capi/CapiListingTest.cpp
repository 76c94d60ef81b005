// `capi list csp`, `countContainer` and `listContainer` as a caller runs them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

#include "CapiMachine.h"

namespace {

using Json = nlohmann::json;

class CapiListing : public ::testing::Test {
protected:
    CapiMachine machine_;

    std::string count(const std::string& provider, const std::string& type,
                      const std::map<std::string, std::string>& extra = {})
    {
        return machine_.success({"capi", "list", "countContainer", provider, type}, extra);
    }
    std::string list(const std::string& provider, const std::string& type)
    {
        return machine_.success({"capi", "list", "listContainer", provider, type});
    }
    static std::vector<std::string> names(const std::string& answer)
    {
        std::vector<std::string> out;
        const Json parsed = Json::parse(answer);
        EXPECT_EQ(answer, parsed.dump());
        for (const Json& entry : parsed) {
            EXPECT_EQ(entry.size(), 1u);
            out.push_back(entry.at("name"));
        }
        return out;
    }
    static constexpr const char* kSharedStore = "Wine installs no provider with a container store of its own";
};

TEST_F(CapiListing, ProvidersAreListedCompactlyWithTheirTypes)
{
    const std::string answer = machine_.success({"capi", "list", "csp"});
    const Json parsed = Json::parse(answer);
    EXPECT_EQ(answer, parsed.dump());
    ASSERT_TRUE(parsed.is_array());
    bool enhancedAes = false;
    for (const Json& entry : parsed) {
        ASSERT_EQ(entry.size(), 2u) << entry;
        ASSERT_TRUE(entry.at("cspname").is_string());
        ASSERT_TRUE(entry.at("csptype").is_number_unsigned());
        if (entry["cspname"] == kEnhancedAes) {
            EXPECT_EQ(entry["csptype"], kProvRsaAes);
            enhancedAes = true;
        }
    }
    EXPECT_TRUE(enhancedAes) << answer;
    EXPECT_NE(answer.find(std::string("{\"cspname\":\"") + kStrong + "\",\"csptype\":1}"), std::string::npos);
}

TEST_F(CapiListing, ContainersAreCountedAndListedInOrder)
{
    if (underWine())
        GTEST_SKIP() << kSharedStore;
    EXPECT_EQ(count(kEmptyCsp, "1"), "0");
    EXPECT_EQ(list(kEmptyCsp, "1"), "null");
    // A long name after a short one: every call gets the whole buffer.
    const std::vector<std::string> created = {"a", std::string(120, 'L'), "bb", "Cont\xc3\xaainer a\xc3\xa7\xc3\xa3o",
                                              std::string(240, 'x')};
    for (const std::string& name : created)
        machine_.createContainer(kEmptyCsp, kProvRsaFull, name);
    EXPECT_EQ(count(kEmptyCsp, "1"), std::to_string(created.size()));
    std::vector<std::string> listed = names(list(kEmptyCsp, "1"));
    std::vector<std::string> expected = created;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    // Integers are read the way atoi reads them.
    EXPECT_EQ(count(kEmptyCsp, "1 and more"), std::to_string(created.size()));
}

TEST_F(CapiListing, ContainersOfTheSoftwareProvidersIncludeNewOnes)
{
    const std::vector<std::string> created = {machine_.newContainerName("s"),
                                              machine_.newContainerName(std::string(200, 'y')),
                                              machine_.newContainerName("Cont\xc3\xaainer")};
    for (const std::string& name : created)
        machine_.createContainer(kEnhancedAes, kProvRsaAes, name);
    const std::vector<std::string> listed = names(list(kEnhancedAes, "24"));
    for (const std::string& name : created)
        EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
    EXPECT_EQ(count(kEnhancedAes, "24"), std::to_string(listed.size()));
}

TEST_F(CapiListing, CountFailuresAreAnsweredAsErrorText)
{
    EXPECT_EQ(count("", "24"), R"({"error":"countContainers - providerName is null"})");
    EXPECT_EQ(count("No Such Provider", "24"),
              R"({"error":"countContainers - CryptAcquireContext. providerName:No Such Provider - providerType:24"})");
    EXPECT_EQ(count(kEnhancedAes, "-7"),
              std::string(R"({"error":"countContainers - CryptAcquireContext. providerName:)") + kEnhancedAes
                  + R"( - providerType:-7"})");
    // Only Athena's exact name is rewritten here.
    EXPECT_EQ(count("Athena ASECard Crypto CSP", "999"),
              R"({"error":"countContainers - CryptAcquireContext. providerName:Microsoft Base Smart Card Crypto )"
              R"(Provider - providerType:999"})");
    EXPECT_EQ(count("Athena ASECard Crypto CSP v2", "1"),
              R"({"error":"countContainers - CryptAcquireContext. providerName:Athena ASECard Crypto CSP v2 - )"
              R"(providerType:1"})");
}

TEST_F(CapiListing, ListFailuresAreRaised)
{
    EXPECT_EQ(machine_.error({"capi", "list", "listContainer", "", "24"}), "countContainers - providerName is null");
    EXPECT_EQ(machine_.error({"capi", "list", "listContainer", "Athena ASECard Crypto CSP", "0"}),
              "countContainers - CryptAcquireContext. providerName:Microsoft Base Smart Card Crypto Provider - "
              "providerType:0");
}

TEST_F(CapiListing, AthenaIsListedThroughMicrosoftsCardProvider)
{
    const std::string container = machine_.newContainerName("athena");
    machine_.createContainer(kMsSmartCard, kProvRsaFull, container);
    const std::vector<std::string> listed = names(list("Athena ASECard Crypto CSP", "1"));
    EXPECT_NE(std::find(listed.begin(), listed.end(), container), listed.end());
}

class CapiListingFaults : public CapiListing {
protected:
    void SetUp() override
    {
        if (underWine())
            GTEST_SKIP() << "the fault switch belongs to the Linux stand-in";
    }
};

TEST_F(CapiListingFaults, EnumerationFailures)
{
    for (const char* name : {"one", "two", "three"})
        machine_.createContainer(kEmptyCsp, kProvRsaFull, name);
    EXPECT_EQ(count(kEmptyCsp, "1", {{"SIGBRID_FAULTS", "CryptGetProvParam#1=5"}}),
              std::string(R"({"error":"countContainers - CryptGetProvParam (CRYPT_FIRST). providerName:)") + kEmptyCsp
                  + R"( - providerType:1"})");
    EXPECT_EQ(count(kEmptyCsp, "1", {{"SIGBRID_FAULTS", "CryptGetProvParam#1=259"}}), "0");
    // A failing next call ends the listing quietly.
    EXPECT_EQ(count(kEmptyCsp, "1", {{"SIGBRID_FAULTS", "CryptGetProvParam#3=5"}}), "2");
    EXPECT_EQ(machine_.error({"capi", "list", "csp"}, {{"SIGBRID_FAULTS", "CryptEnumProvidersA#2=5"}}),
              "listCSPs - CryptEnumProviders");
    EXPECT_EQ(machine_.error({"capi", "list", "csp"}, {{"SIGBRID_FAULTS", "LocalAlloc=8"}}),
              "listCSPs - Insufficient Memory");
    // A name read that reports the end skips that provider only.
    Json all = Json::parse(machine_.success({"capi", "list", "csp"}));
    const Json partial =
        Json::parse(machine_.success({"capi", "list", "csp"}, {{"SIGBRID_FAULTS", "CryptEnumProvidersA#4=259"}}));
    ASSERT_GE(all.size(), 2u);
    all.erase(1);
    EXPECT_EQ(partial, all);
    EXPECT_EQ(machine_.success({"capi", "list", "csp"}, {{"SIGBRID_FAULTS", "CryptEnumProvidersA#1=259"}}), "null");
}

}  // namespace
