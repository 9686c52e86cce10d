#pragma once

/// tallowctl's exit codes, as the README and the manual page list them.
namespace CtlExit
{
enum Code : int {
    Ok = 0,            ///< every device the command worked on succeeded (or could not do it over ONVIF)
    DevicesFailed = 1, ///< at least one device failed, was not found or did not finish
    BadArguments = 2,  ///< the command line (or a value it names) is wrong; nothing was done
    InputRefused = 3,  ///< the package, picture or file given was refused before any device was touched
    NoDevices = 4,     ///< no device to work on: the search found none, or none of those named
    Interrupted = 130, ///< stopped by Ctrl+C (SIGINT) or SIGTERM; the devices under way ended first
};
} // namespace CtlExit
