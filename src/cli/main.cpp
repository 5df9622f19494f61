// quern-reg: the registry of a Wine prefix from the command line, in the manner of reg.
#include "QuernVersion.h"
#include "cli/HiveArgs.h"
#include "cli/PrefixArgs.h"
#include "cli/RegCommand.h"
#include "store/MemoryRegistry.h"
#include "wine/WinePrefixStore.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The registry the command runs on, made here and never freed.
quern::reg::MemoryRegistry* openRegistry(const quern::reg::RegistryChoice& choice, bool withHives) {
    if (withHives && choice.ownRegistry) {
        // Only hives, and no Wine prefix: nothing outside them is kept anywhere, so nothing there may change.
        quern::reg::MemoryRegistryOptions scratch;
        scratch.withBaseKeys = false;
        scratch.fixedPartsReadOnlyReason = "No Wine prefix is open: only the loaded hives can be changed.";
        return new quern::reg::MemoryRegistry(std::move(scratch));
    }
    quern::reg::WinePrefixOptions options;
    options.prefixDir = choice.prefixDir;
    options.createIfMissing = choice.ownRegistry;
    return new quern::reg::WinePrefixStore(std::move(options));
}

// The exit code of a command whose output could not be written, said on standard error. A change
// that is on disk stays a success: a script that took it for a failure might make it again, or
// undo what it did before. Only a query, whose output is its result, fails.
int outputLost(quern::cli::Operation operation, int exitCode) {
    const bool listing = operation == quern::cli::Operation::Query || operation == quern::cli::Operation::Compare
        || operation == quern::cli::Operation::Prefixes;
    if (exitCode == 0 && !listing) {
        std::cerr << "quern-reg: the command succeeded, but its report could not be written.\n";
        return exitCode;
    }
    std::cerr << "quern-reg: the output could not be written.\n";
    return operation == quern::cli::Operation::Compare ? 2 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    // The GNU way to ask a program for its version; reg itself has no such switch.
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "quern-reg " << quern::kQuernVersion << '\n';
        std::cout.flush();
        return std::cout ? 0 : 1;
    }
    quern::cli::LeadingArgs leading;
    if (const quern::reg::Status taken = quern::cli::takeLeadingArgs(args, leading); !taken.ok()) {
        std::cerr << "quern-reg: " << taken.message() << '\n';
        return 1;
    }
    quern::cli::RegArgs parsed;
    int exitCode = 1;
    // Help and bad arguments are answered before the registry is opened (or made, the first time).
    if (!quern::cli::parseRegArgs(args, parsed, std::cout, std::cerr, exitCode)) return exitCode;
    if (parsed.operation == quern::cli::Operation::Prefixes && (!leading.hives.empty() || !leading.prefix.empty())) {
        std::cerr << "quern-reg: prefixes lists the registries there are; /hive and /prefix do not go with it.\n";
        return 1;
    }
    // Two backups compare without the registry, and the list of registries opens none: it is
    // neither opened nor made.
    if ((parsed.operation == quern::cli::Operation::Compare && !parsed.newerFile.empty())
        || parsed.operation == quern::cli::Operation::Prefixes) {
        quern::reg::MemoryRegistry unused;
        exitCode = quern::cli::runRegCommand(parsed, unused, std::cin, std::cout, std::cerr);
        std::cout.flush();
        if (!std::cout)
            exitCode = parsed.operation == quern::cli::Operation::Prefixes ? outputLost(parsed.operation, exitCode) : 2;
        std::_Exit(exitCode);
    }
    // A prefix that is not there is a mistake in the script, not an empty registry to list.
    const quern::reg::RegistryChoice choice = leading.prefix.empty()
        ? quern::reg::chooseRegistry()
        : quern::reg::RegistryChoice { std::filesystem::absolute(leading.prefix).lexically_normal(), false };
    if (const quern::reg::Status checked
        = leading.prefix.empty() ? quern::reg::Status() : quern::cli::checkPrefixFolder(choice.prefixDir);
        !checked.ok()) {
        std::cerr << "quern-reg: " << checked.message() << '\n';
        return parsed.operation == quern::cli::Operation::Compare ? 2 : 1;
    }
    if (!choice.ownRegistry && !std::filesystem::is_directory(choice.prefixDir)) {
        std::cerr << "quern-reg: The Wine prefix " << choice.prefixDir << " does not exist.\n";
        return parsed.operation == quern::cli::Operation::Compare ? 2 : 1;
    }
    // The registry is left to the end of the process: every change is on disk when the command
    // returns, and freeing a whole registry key by key would only delay the exit.
    quern::reg::MemoryRegistry* store = openRegistry(choice, !leading.hives.empty());
    if (const quern::reg::Status mounted = quern::cli::mountHives(*store, leading.hives); !mounted.ok()) {
        std::cerr << "quern-reg: " << mounted.message() << '\n';
        return 1;
    }
    exitCode = quern::cli::runRegCommand(parsed, *store, std::cin, std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout) exitCode = outputLost(parsed.operation, exitCode);
    std::cerr.flush();
    std::_Exit(exitCode);
}
