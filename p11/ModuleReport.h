// What `system info modules` tells of the module table, for support: where
// each module is, whether it loads, which functions it lacks, what the
// library says of itself and how many slots it sees. No session is opened
// and nobody logs in.
#pragma once

#include <nlohmann/json.hpp>

// One record per module of the table, in table order; each module is
// loaded, asked and unloaded again.
nlohmann::json moduleReports();
