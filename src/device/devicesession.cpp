#include "device/devicesession.h"

#include "netsdk/netsdk.h"

#include <utility>

void DeviceSession::sdkLogout(long loginId)
{
    H264_DVR_Logout(loginId);
}

DeviceSession::DeviceSession(long loginId, Logout logout)
    : m_id(loginId > 0 ? loginId : 0), m_logout(m_id > 0 ? std::move(logout) : Logout())
{
}

DeviceSession::DeviceSession(DeviceSession &&other) noexcept
    : m_id(std::exchange(other.m_id, 0)), m_logout(std::move(other.m_logout))
{
    other.m_logout = nullptr;
}

DeviceSession &DeviceSession::operator=(DeviceSession &&other) noexcept
{
    if (this != &other) {
        reset();
        m_id = std::exchange(other.m_id, 0);
        m_logout = std::move(other.m_logout);
        other.m_logout = nullptr;
    }
    return *this;
}

void DeviceSession::reset()
{
    const long id = std::exchange(m_id, 0);
    Logout logout = std::move(m_logout);
    m_logout = nullptr;
    if (id > 0 && logout)
        logout(id);
}
