#include "Command.h"

#include "ModuleReport.h"
#include "Version.h"

const std::vector<Command>& commandTable()
{
    static const std::vector<Command> table = [] {
        std::vector<Command> rows;
        for (auto group : {systemCommands, capiCommands, pkcs11Commands}) {
            auto groupRows = group();
            rows.insert(rows.end(), groupRows.begin(), groupRows.end());
        }
        return rows;
    }();
    return table;
}

std::vector<Command> systemCommands()
{
    return {
        {"system", "info", "version", Guard::TopLevel, [](const ArgVector&) -> Operation {
             return [] { return successEnvelope(SIGBRID_VERSION); };
         }},
        {"system", "info", "modules", Guard::RuntimeErrors, [](const ArgVector&) -> Operation {
             return [] { return successEnvelope(moduleReports()); };
         }},
    };
}
