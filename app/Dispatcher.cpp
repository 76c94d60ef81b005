#include "Dispatcher.h"

#include <stdexcept>
#include <string>

#include "Command.h"
#include "Messages.h"
#include "P11Store.h"

namespace {

// The operation layer: the row's guard decides which failures keep their text.
Json runGuarded(Guard guard, const Operation& operation)
{
    if (guard == Guard::TopLevel)
        return operation();
    try {
        return operation();
    } catch (const std::runtime_error& failure) {
        return errorEnvelope(guard == Guard::NullOnly ? Json(nullptr) : Json(failure.what()));
    } catch (const std::exception& failure) {
        return errorEnvelope(guard == Guard::StandardFailures ? Json(failure.what()) : Json(nullptr));
    } catch (...) {
        return errorEnvelope(nullptr);
    }
}

bool isGroup(const std::string& word)
{
    for (const Command& row : commandTable())
        if (word == row.group)
            return true;
    return false;
}

// Command and subcommand words of one group.
Json route(const ArgVector& args)
{
    const std::string& group = args.text(0);
    const std::string& command = args.text(1);
    bool commandFound = false;
    for (const Command& row : commandTable()) {
        if (group != row.group || command != row.command)
            continue;
        commandFound = true;
        if (args.text(2) == row.subcommand)
            return runGuarded(row.guard, row.bind(args));
    }
    return errorEnvelope(commandFound ? kCommandNotFound : kSubcommandTypeNotFound);
}

Json dispatchGroup(const ArgVector& args)
{
    const std::string& group = args.text(0);
    if (!isGroup(group))
        return errorEnvelope(kCommandTypeNotFound);
    if (group == "pkcs11") {
        // The token type is read, and its modules loaded, before the command
        // words: every token request names it.
        P11Store& store = P11Store::getInstance(args.text(3));
        Json answer = route(args);
        // Only requests that stay in this branch finalize; a failure that
        // leaves through the top layer leaves the modules as they are.
        store.finalize();
        P11Store::discard();
        return answer;
    }
    return route(args);
}

}  // namespace

Json dispatch(const ArgVector& args)
{
    try {
        return dispatchGroup(args);
    } catch (const std::runtime_error& failure) {
        return errorEnvelope(failure.what());
    } catch (...) {
        return errorEnvelope(kUnknownError);
    }
}
