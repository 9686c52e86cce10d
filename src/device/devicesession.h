#pragma once

#include <functional>

/// One login on one device, owned: the only place a login ends. Move-only, so exactly one owner at a
/// time (a row of the store, a running job, a dialog's result) and exactly one logout. An empty
/// session is "not logged in"; there is no other spelling of it. The handle leaves the object only
/// for an SDK call, through id().
class DeviceSession
{
public:
    /// How the session ends: the SDK's logout, or a fake of it. It must outlive the session.
    using Logout = std::function<void(long loginId)>;
    static void sdkLogout(long loginId);

    DeviceSession() = default;
    /// Owns `loginId` when it is a handle (> 0); a failed login's 0 or error code gives an empty one.
    explicit DeviceSession(long loginId, Logout logout = &DeviceSession::sdkLogout);
    ~DeviceSession() { reset(); }

    DeviceSession(DeviceSession &&other) noexcept;
    /// Logs out the session this one held, then takes `other`'s over.
    DeviceSession &operator=(DeviceSession &&other) noexcept;
    DeviceSession(const DeviceSession &) = delete;
    DeviceSession &operator=(const DeviceSession &) = delete;

    bool loggedIn() const { return m_id > 0; }
    explicit operator bool() const { return loggedIn(); }
    /// The handle, for an SDK call only; 0 when not logged in.
    long id() const { return m_id; }
    /// Logs out now, when logged in; the session is empty afterwards.
    void reset();

private:
    long m_id = 0;
    Logout m_logout;
};
