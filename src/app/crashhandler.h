#pragma once

class QObject;

/// Process-wide crash handler. On SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT or an uncaught C++
/// exception it writes "CrashDumpFile.dmp" (AppPaths::crashReport(): beside the executable in a build
/// tree, in the user's data directory for an installed copy; signal, fault address, backtrace)
/// and ends the process at once with exit status 255. No dialog is shown.
namespace CrashHandler
{

/// Installs the handlers; call first thing in main, before anything else runs.
void install();

/// Installs the handlers again where other code has replaced them since (the toolkit, a library).
/// Returns how many foreign handlers were displaced; each is reported on the debug output.
int reassert();

/// Re-asserts the handlers every intervalMs while owner lives, so a registration made later by
/// other code cannot silently take over.
void startGuard(QObject *owner, int intervalMs = 1000);

/// Where the report goes ("" when the executable's directory could not be found).
const char *reportPath();

/// True when every handler of ours is the one in force.
bool isInForce();

} // namespace CrashHandler

/// The entry point's name for CrashHandler::install().
inline void installCrashHandler()
{
    CrashHandler::install();
}
