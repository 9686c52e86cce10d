#pragma once

/// The SDK for the life of its owner (a tab, a command): initialised with the stations' connect time
/// of 2000 ms and one try, cleaned up when the owner goes. Scopes nest; the SDK counts them.
class SdkScope
{
public:
    SdkScope();
    ~SdkScope();
    SdkScope(const SdkScope &) = delete;
    SdkScope &operator=(const SdkScope &) = delete;
};
