// The command tree as data: one row per group, command and subcommand word,
// with the failure handler that stands around its operation.
#pragma once

#include <functional>
#include <vector>

#include "ArgVector.h"
#include "Envelope.h"

// Which failures the operation layer answers with their message; the others
// become "error": null. `TopLevel` rows have no operation-layer handler.
enum class Guard { RuntimeErrors, StandardFailures, NullOnly, TopLevel };

// Runs the operation and answers the envelope.
using Operation = std::function<Json()>;

struct Command {
    const char* group;
    const char* command;
    const char* subcommand;
    Guard guard;
    // Reads and converts the parameters (failures here reach the top-level
    // handler), then answers the operation to run under `guard`.
    Operation (*bind)(const ArgVector& args);
};

std::vector<Command> systemCommands();
std::vector<Command> capiCommands();
std::vector<Command> pkcs11Commands();

// Every row, groups in the order they are matched.
const std::vector<Command>& commandTable();
