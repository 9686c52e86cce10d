/*
 * capi.cpp - the C interface of netsdk.h.
 */
#include "onvifclient.h"
#include "sdkinternal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using namespace netsdk;
using namespace netsdk::detail;

namespace
{

long configResult(const proto::Frame &answer)
{
    if (answer.header.status < 0) {
        setError(answer.header.status);
        return answer.header.status;
    }
    return 1;
}

} // namespace

/* ==== The C interface ==== */

long H264_DVR_Init(fDisConnect cbDisConnect, unsigned long dwUser)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    ++s.refs;
    s.disconnectCb = cbDisConnect;
    s.disconnectUser = dwUser;
    return 1;
}

int H264_DVR_Cleanup(void)
{
    Sdk &s = sdk();
    std::map<long, std::shared_ptr<Session>> sessions;
    std::map<long, std::shared_ptr<Upgrade>> upgrades;
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0)
            return 0; /* one clean-up too many is harmless */
        if (--s.refs > 0)
            return 1;
        sessions.swap(s.sessions);
        upgrades.swap(s.upgrades);
        for (auto &o : s.onvifSessions)
            o.second->closed = true;
        s.onvifSessions.clear();
        s.disconnectCb = nullptr;
        s.searchedMacs.clear(); /* what a search found is the last user's knowledge */
    }
    onvifForget();
    for (auto &u : upgrades)
        closeUpgrade(*u.second);
    for (auto &sess : sessions) {
        sess.second->lost = true;
        sess.second->sock->abort();
    }
    std::unique_lock<std::mutex> lk(s.m);
    const int own = t_upgradeThread ? 1 : 0;
    s.threadsDone.wait(lk, [&] { return s.upgradeThreads <= own || s.refs > 0; });
    return 1;
}

long H264_DVR_GetLastError(void)
{
    return lastError();
}

int H264_DVR_SetConnectTime(long nWaitTime, long nTryTimes)
{
    Sdk &s = sdk();
    std::lock_guard<std::mutex> lk(s.m);
    s.connectWaitMs = clampWait(nWaitTime);
    s.connectTries = int(std::max(1L, std::min(nTryTimes, 100L)));
    return 1;
}

void H264_DVR_SetSearchPort(unsigned short wPort)
{
    sdk().searchPort = wPort;
}

void H264_DVR_SetUpgradeDeadline(long nFlashMs)
{
    sdk().flashDeadlineMs = int(std::clamp<long>(nFlashMs, 100, 3600000));
}

int H264_DVR_SearchDevice(char *pBuf, int nBufLen, int *pRetLen, int nSearchTime)
{
    if (pRetLen)
        *pRetLen = 0;
    if (!pBuf || nBufLen < 0 || !pRetLen) {
        setError(NETSDK_ERR_PARAM);
        return 0;
    }
    if (!initialised()) {
        setError(NETSDK_ERR_NOT_INIT);
        return 0;
    }
    const size_t capacity = size_t(nBufLen) / sizeof(SDK_CONFIG_NET_COMMON_V2);
    const uint32_t seq = randomSeq();
    std::unique_ptr<Socket> sock = udpBroadcast(proto::encodeSearch(seq));
    if (!sock) {
        setError(NETSDK_ERR_NETWORK);
        return 0;
    }
    const int searchMs = std::max(0, std::min(nSearchTime, kMaxWaitMs));
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(searchMs);
    /* ONVIF devices are probed and identified alongside, within the same time. */
    std::vector<SDK_CONFIG_NET_COMMON_V2> onvifFound;
    std::thread onvifProbe;
    try {
        onvifProbe = std::thread([&] { onvifFound = onvifSearch(deadline, capacity); });
    } catch (...) {
        /* no thread: this search lists the devices of our own protocol only */
    }
    std::vector<SDK_CONFIG_NET_COMMON_V2> found;
    /* A device answers for itself, so one sender gets only a few places: a host inventing hundreds
     * of devices cannot crowd the real ones out. The search always runs its whole time, so a full
     * buffer cannot cut off devices that answer later either. */
    std::map<uint32_t, int> perSource;
    proto::Frame f;
    uint32_t from = 0;
    while (readDatagram(sock->fd, deadline, f, &from)) {
        if (f.header.type != proto::answerOf(proto::MSG_SEARCH) || f.header.seq != seq)
            continue;
        SDK_CONFIG_NET_COMMON_V2 rec;
        if (proto::decodeSearchAnswer(f, rec) != proto::Result::Ok)
            continue;
        rec.Protocol = NETSDK_PROTOCOL_OWN; /* not the device's to say */
        auto same = std::find_if(found.begin(), found.end(), [&](const SDK_CONFIG_NET_COMMON_V2 &o) {
            return std::memcmp(o.HostIP, rec.HostIP, 4) == 0 &&
                   std::strncmp(o.sMac, rec.sMac, sizeof o.sMac) == 0;
        });
        if (same != found.end()) {
            *same = rec;
            rememberSearchedMac(rec, from);
            continue;
        }
        int &taken = perSource[from];
        if (found.size() >= capacity || taken >= kMaxSearchAnswersPerSource)
            continue;
        ++taken;
        found.push_back(rec);
        rememberSearchedMac(rec, from);
    }
    if (onvifProbe.joinable())
        onvifProbe.join();
    /* A device that speaks both is listed once, by its own protocol. */
    for (const SDK_CONFIG_NET_COMMON_V2 &rec : onvifFound) {
        if (found.size() >= capacity)
            break;
        const bool known = std::any_of(found.begin(), found.end(), [&](const SDK_CONFIG_NET_COMMON_V2 &o) {
            return proto::macEqual(proto::fieldText(o.sMac, sizeof o.sMac),
                                   proto::fieldText(rec.sMac, sizeof rec.sMac));
        });
        if (!known)
            found.push_back(rec);
    }
    if (!found.empty())
        std::memcpy(pBuf, found.data(), found.size() * sizeof(SDK_CONFIG_NET_COMMON_V2));
    *pRetLen = int(found.size() * sizeof(SDK_CONFIG_NET_COMMON_V2));
    return 1;
}

long H264_DVR_Login(const char *sDeviceIP, unsigned short wDevicePort, const char *sUserName,
                    const char *sPassword, H264_DVR_DEVICEINFO *lpDeviceInfo, int nMode, int *error)
{
    auto fail = [&](int code, long last) -> long {
        if (error)
            *error = code;
        setError(last);
        return 0;
    };
    Sdk &s = sdk();
    int waitMs, tries;
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0)
            return fail(NETSDK_ERR_NOT_INIT, NETSDK_ERR_NOT_INIT);
        waitMs = s.connectWaitMs;
        tries = s.connectTries;
    }
    std::string user = sUserName ? sUserName : "";
    std::string password = sPassword ? sPassword : "";
    if (user.empty() || user.size() >= proto::kUserField)
        return fail(NETSDK_ERR_PARAM, NETSDK_ERR_PARAM);
    in_addr addr{};
    if (!parseIPv4(sDeviceIP, addr) || wDevicePort == 0)
        return fail(0, NETSDK_ERR_NETWORK);
    const std::string onvifUrl = onvifServiceAt(sDeviceIP, wDevicePort);
    if (!onvifUrl.empty())
        return onvifLogin(onvifUrl, sDeviceIP, wDevicePort, user, password, lpDeviceInfo, error,
                          waitMs * tries);

    std::shared_ptr<Socket> sock = connectTo(addr, wDevicePort, waitMs, tries);
    if (!sock)
        return fail(0, NETSDK_ERR_NETWORK);

    /* The exchange after the connect gets the connect time-out too. */
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    proto::FrameReader reader;
    proto::Frame f;
    auto awaitAnswer = [&](uint16_t type, uint32_t seq) -> Io {
        for (;;) {
            Io io = readFrame(sock->fd, reader, deadline, f);
            if (io != Io::Ok || (f.header.type == proto::answerOf(type) && f.header.seq == seq))
                return io;
        }
    };
    auto ioFail = [&](Io io) -> long {
        if (io == Io::Timeout)
            return fail(NETSDK_ERR_TIMEOUT, NETSDK_ERR_TIMEOUT);
        if (io == Io::Bad)
            return fail(NETSDK_ERR_PROTOCOL, NETSDK_ERR_PROTOCOL);
        return fail(0, NETSDK_ERR_NETWORK);
    };

    std::array<uint8_t, proto::kNonceSize> clientNonce{};
    if (!proto::makeNonce(clientNonce.data()))
        return fail(NETSDK_ERR_LOGIN_OTHER, NETSDK_ERR_LOGIN_OTHER);
    Io io = sendAll(sock->fd, proto::encodeLoginChallenge(1, clientNonce), deadline);
    if (io == Io::Ok)
        io = awaitAnswer(proto::MSG_LOGIN_CHALLENGE, 1);
    if (io != Io::Ok)
        return ioFail(io);
    /* A KDF outside the bounds fails here: a device cannot make us spin on an absurd cost, nor
     * make guessing cheap with a trivial one. */
    proto::LoginChallengeAnswer challenge;
    if (proto::decodeLoginChallengeAnswer(f, challenge) != proto::Result::Ok)
        return fail(NETSDK_ERR_PROTOCOL, NETSDK_ERR_PROTOCOL);
    if (f.header.status != 0)
        return fail(f.header.status, f.header.status);
    /* A device that announces another identity than the search found at this address is not that
     * device (e.g. one relaying another's challenge): no proof leaves for it. */
    const std::string known = searchedMacAt(addr.s_addr);
    if (!known.empty() && !proto::macEqual(known, challenge.mac))
        return fail(NETSDK_ERR_NO_DEVICE, NETSDK_ERR_NO_DEVICE);

    const Clock::time_point derivingFrom = Clock::now();
    const auto key = loginKeyFor(password, challenge.salt, challenge.iterations);
    /* The derivation is our own work, not the device's delay: the device's time limit moves on by it. */
    deadline += Clock::now() - derivingFrom;
    proto::Login login;
    login.user = user;
    login.digest = proto::loginProof(key, clientNonce, challenge.deviceNonce, challenge.mac, user);
    login.mode = nMode;
    io = sendAll(sock->fd, proto::encodeLogin(2, login), deadline);
    if (io == Io::Ok)
        io = awaitAnswer(proto::MSG_LOGIN, 2);
    if (io != Io::Ok)
        return ioFail(io);
    H264_DVR_DEVICEINFO info;
    if (proto::decodeLoginAnswer(f, info) != proto::Result::Ok)
        return fail(NETSDK_ERR_PROTOCOL, NETSDK_ERR_PROTOCOL);
    info.Protocol = NETSDK_PROTOCOL_OWN;
    std::memset(info.sModel, 0, sizeof info.sModel); /* our protocol has no model field */
    if (f.header.status != 0)
        return fail(f.header.status, f.header.status);

    auto sess = std::make_shared<Session>();
    std::strncpy(sess->ip, sDeviceIP, sizeof sess->ip - 1);
    sess->port = wDevicePort;
    sess->id = f.header.session;
    sess->sock = sock;
    sess->seq = 2;
    sess->reader = std::move(reader);
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0) /* cleaned up while we were logging in */
            return fail(NETSDK_ERR_NOT_INIT, NETSDK_ERR_NOT_INIT);
        sess->handle = nextLoginHandle(s);
        s.sessions[sess->handle] = sess;
    }
    if (lpDeviceInfo)
        *lpDeviceInfo = info;
    if (error)
        *error = 0;
    return sess->handle;
}

long H264_DVR_Logout(long lLoginID)
{
    if (onvifLogout(lLoginID))
        return 1;
    std::shared_ptr<Session> sess;
    {
        Sdk &s = sdk();
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.sessions.find(lLoginID);
        if (it == s.sessions.end()) {
            setError(NETSDK_ERR_HANDLE);
            return 0;
        }
        sess = it->second;
        s.sessions.erase(it);
    }
    /* Polite goodbye only if nobody else is mid-exchange; either way the connection goes. */
    if (!sess->upgrading && !sess->lost) {
        std::unique_lock<TimedLock> lk(sess->io, std::try_to_lock);
        if (lk.owns_lock())
            sendAll(sess->sock->fd, proto::encodeLogout(++sess->seq, sess->id),
                    Clock::now() + std::chrono::milliseconds(kLogoutSendMs));
    }
    sess->lost = true;
    sess->sock->abort();
    return 1;
}

long H264_DVR_GetDevConfig(long lLoginID, unsigned long dwCommand, int nChannelNO, char *lpOutBuffer,
                           unsigned long dwOutBufferSize, unsigned long *lpBytesReturned, int waittime)
{
    if (lpBytesReturned)
        *lpBytesReturned = 0;
    if (!lpOutBuffer || dwOutBufferSize == 0 || dwCommand > 0xffffffffUL) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    if (auto o = findOnvifSession(lLoginID)) {
        const long r =
            onvifGetConfig(o, dwCommand, lpOutBuffer, dwOutBufferSize, lpBytesReturned, clampWait(waittime));
        if (r != 1)
            setError(r);
        return r;
    }
    proto::ConfigGet m;
    m.command = uint32_t(dwCommand);
    m.channel = nChannelNO;
    m.maxSize = uint32_t(std::min<unsigned long>(dwOutBufferSize, proto::kMaxConfigData));
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(waittime), proto::MSG_CONFIG_GET,
        [&](uint32_t seq, uint32_t id) { return proto::encodeConfigGet(seq, id, m); }, answer);
    if (r != 0) {
        setError(r);
        return r;
    }
    if (answer.header.status < 0)
        return configResult(answer);
    if (answer.payload.size() > m.maxSize) {
        setError(NETSDK_ERR_PROTOCOL);
        return NETSDK_ERR_PROTOCOL;
    }
    std::memcpy(lpOutBuffer, answer.payload.data(), answer.payload.size());
    if (lpBytesReturned)
        *lpBytesReturned = answer.payload.size();
    return 1;
}

long H264_DVR_SetDevConfig(long lLoginID, unsigned long dwCommand, int nChannelNO, char *lpInBuffer,
                           unsigned long dwInBufferSize, int waittime)
{
    if ((!lpInBuffer && dwInBufferSize) || dwInBufferSize > proto::kMaxConfigData ||
        dwCommand > 0xffffffffUL) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    if (auto o = findOnvifSession(lLoginID)) {
        const long r = onvifSetConfig(o, dwCommand, lpInBuffer, dwInBufferSize, clampWait(waittime));
        if (r != 0) {
            setError(r);
            return r;
        }
        return 1;
    }
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(waittime), proto::MSG_CONFIG_SET,
        [&](uint32_t seq, uint32_t id) {
            return proto::encodeConfigSet(seq, id, uint32_t(dwCommand), nChannelNO,
                                          reinterpret_cast<const uint8_t *>(lpInBuffer), dwInBufferSize);
        },
        answer);
    if (r != 0) {
        setError(r);
        return r;
    }
    return configResult(answer);
}

long H264_DVR_SetConfigOverNet(unsigned long dwCommand, int nChannelNO, char *lpInBuffer,
                               unsigned long dwInBufferSize, int waittime)
{
    if (!lpInBuffer || dwInBufferSize != sizeof(SDK_NET_BLOCK) || dwCommand > 0xffffffffUL) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    proto::NetSet m;
    m.command = uint32_t(dwCommand);
    m.channel = nChannelNO;
    std::memcpy(&m.block, lpInBuffer, sizeof m.block);
    const std::string mac = proto::fieldText(m.block.sMac, sizeof m.block.sMac);
    if (!proto::isMacText(mac) || !proto::fieldTerminated(m.block.HostName, sizeof m.block.HostName)) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    /* The station MAC is informational; an unterminated one is cut rather than refused. */
    m.block.sHostMac[sizeof m.block.sHostMac - 1] = 0;
    if (!initialised()) {
        setError(NETSDK_ERR_NOT_INIT);
        return NETSDK_ERR_NOT_INIT;
    }
    /* A device known as ONVIF (by a login) moves by SOAP calls. */
    const long onvifResult = onvifSetNet(m.block, clampWait(waittime));
    if (onvifResult != NETSDK_ERR_NO_DEVICE) {
        if (onvifResult < 0)
            setError(onvifResult);
        return onvifResult;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(clampWait(waittime));
    const uint32_t seq = randomSeq();
    std::unique_ptr<Socket> sock = udpBroadcast(proto::encodeNetSet(seq, m));
    if (!sock) {
        setError(NETSDK_ERR_NETWORK);
        return NETSDK_ERR_NETWORK;
    }
    proto::Frame f;
    while (readDatagram(sock->fd, deadline, f)) {
        std::string from;
        if (f.header.type != proto::answerOf(proto::MSG_NET_SET) || f.header.seq != seq ||
            proto::decodeNetSetAnswer(f, from) != proto::Result::Ok || !proto::macEqual(from, mac))
            continue;
        if (f.header.status == 0 || f.header.status == 1 || f.header.status == NETSDK_ERR_NEED_REBOOT) {
            uint32_t moved;
            std::memcpy(&moved, m.block.HostIP, sizeof moved);
            deviceMoved(mac, moved);
        }
        if (f.header.status < 0)
            setError(f.header.status);
        return f.header.status;
    }
    setError(NETSDK_ERR_TIMEOUT);
    return NETSDK_ERR_TIMEOUT;
}

int H264_DVR_ControlDVR(long lLoginID, int type, int waittime)
{
    if (auto o = findOnvifSession(lLoginID)) {
        const long r = onvifControl(o, type, clampWait(waittime));
        if (r != 0) {
            setError(r);
            return 0;
        }
        return 1;
    }
    proto::Control m;
    m.type = type;
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(waittime), proto::MSG_CONTROL,
        [&](uint32_t seq, uint32_t id) { return proto::encodeControl(seq, id, m); }, answer,
        NETSDK_ERR_TIMEOUT /* a restarting device may drop us before it answers */);
    if (r != 0) {
        setError(r);
        return 0;
    }
    if (answer.header.status < 0) {
        setError(answer.header.status);
        return 0;
    }
    return 1;
}

long H264_DVR_Upgrade(long lLoginID, const char *sFileName, int nType, fUpgradeCallBack cbUpgrade,
                      void *dwUser)
{
    return H264_DVR_UpgradePinned(lLoginID, sFileName, nType, nullptr, cbUpgrade, dwUser);
}

long H264_DVR_UpgradePinned(long lLoginID, const char *sFileName, int nType, const unsigned char *pSha256,
                            fUpgradeCallBack cbUpgrade, void *dwUser)
{
    if (!sFileName || !*sFileName) {
        setError(NETSDK_ERR_PARAM);
        return 0;
    }
    if (!initialised()) {
        setError(NETSDK_ERR_NOT_INIT);
        return 0;
    }
    std::shared_ptr<Session> sess = findSession(lLoginID);
    std::shared_ptr<OnvifSession> onvif = sess ? nullptr : findOnvifSession(lLoginID);
    if (!sess && !onvif) {
        setError(NETSDK_ERR_HANDLE);
        return 0;
    }
    if (sess && sess->lost) {
        setError(NETSDK_ERR_NETWORK);
        return 0;
    }
    auto u = std::make_shared<Upgrade>();
    u->fileFd = ::open(sFileName, O_RDONLY | O_CLOEXEC);
    struct stat st {
    };
    if (u->fileFd < 0 || ::fstat(u->fileFd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        st.st_size > off_t(proto::kMaxUpgradeSize)) {
        setError(NETSDK_ERR_FILE);
        return 0;
    }
    std::atomic<bool> &upgrading = sess ? sess->upgrading : onvif->upgrading;
    if (upgrading.exchange(true)) {
        setError(NETSDK_ERR_BUSY);
        return 0;
    }
    u->loginId = lLoginID;
    u->session = sess;
    u->onvif = onvif;
    u->key = fileKeyOf(st);
    if (pSha256) {
        u->pinned = true;
        std::copy(pSha256, pSha256 + u->expected.size(), u->expected.begin());
    }
    u->total = uint32_t(st.st_size);
    u->type = nType;
    u->baseName = baseNameOf(sFileName);
    u->cb = cbUpgrade;
    u->user = dwUser;
    u->flashDeadlineMs = sdk().flashDeadlineMs.load();

    Sdk &s = sdk();
    {
        std::lock_guard<std::mutex> lk(s.m);
        if (s.refs == 0 || !(sess ? s.sessions.count(lLoginID) : s.onvifSessions.count(lLoginID))) {
            upgrading = false;
            setError(s.refs == 0 ? NETSDK_ERR_NOT_INIT : NETSDK_ERR_HANDLE);
            return 0;
        }
        u->handle = nextHandle(s.nextUpgrade, s.upgrades);
        s.upgrades[u->handle] = u;
        ++s.upgradeThreads;
    }
    try {
        std::thread(upgradeThread, u).detach();
    } catch (...) {
        std::lock_guard<std::mutex> lk(s.m);
        s.upgrades.erase(u->handle);
        --s.upgradeThreads;
        s.threadsDone.notify_all();
        upgrading = false;
        setError(NETSDK_ERR_BUSY);
        return 0;
    }
    return u->handle;
}

int H264_DVR_CloseUpgradeHandle(long lUpgradeHandle)
{
    std::shared_ptr<Upgrade> u;
    {
        Sdk &s = sdk();
        std::lock_guard<std::mutex> lk(s.m);
        auto it = s.upgrades.find(lUpgradeHandle);
        if (it == s.upgrades.end()) {
            setError(NETSDK_ERR_HANDLE);
            return 0;
        }
        u = it->second;
        s.upgrades.erase(it);
    }
    closeUpgrade(*u);
    return 1;
}

long H264_DVR_GetDevConfig_JsonV2(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                  char *szOutBuffer, int nOutBufferSize, int *pRetLen, int nWaitTime)
{
    if (pRetLen)
        *pRetLen = 0;
    if (!szCommandName || !proto::isConfigName(szCommandName) || !szOutBuffer || nOutBufferSize < 2 ||
        nCommand < 0) {
        setError(NETSDK_ERR_PARAM);
        return 0;
    }
    szOutBuffer[0] = 0;
    if (findOnvifSession(lLoginID)) {
        setError(NETSDK_ERR_ONVIF_UNSUPPORTED);
        return 0;
    }
    proto::JsonGet m;
    m.command = uint32_t(nCommand);
    m.channel = nChannelNO;
    m.maxSize = uint32_t(std::min<long>(nOutBufferSize - 1, proto::kMaxConfigData));
    m.name = szCommandName;
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(nWaitTime), proto::MSG_JSON_GET,
        [&](uint32_t seq, uint32_t id) { return proto::encodeJsonGet(seq, id, m); }, answer);
    if (r == 0 && answer.header.status < 0)
        r = answer.header.status;
    std::string text;
    if (r == 0 &&
        (answer.payload.size() > m.maxSize || proto::decodeJsonText(answer, text) != proto::Result::Ok))
        r = NETSDK_ERR_PROTOCOL;
    if (r != 0) {
        setError(r);
        return 0;
    }
    std::memcpy(szOutBuffer, text.data(), text.size());
    szOutBuffer[text.size()] = 0;
    if (pRetLen)
        *pRetLen = int(text.size());
    return 1;
}

long H264_DVR_SetDevConfig_JsonV2_EX(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                     const char *szInBuffer, int nInBufferSize, char *szOutBuffer,
                                     int nOutBufferSize, int nWaitTime)
{
    if (szOutBuffer && nOutBufferSize > 0)
        szOutBuffer[0] = 0;
    if (!szCommandName || !proto::isConfigName(szCommandName) || nCommand < 0 || nInBufferSize < 0 ||
        (!szInBuffer && nInBufferSize > 0) || uint32_t(nInBufferSize) > proto::kMaxJsonText) {
        setError(NETSDK_ERR_PARAM);
        return NETSDK_ERR_PARAM;
    }
    if (findOnvifSession(lLoginID)) {
        setError(NETSDK_ERR_ONVIF_UNSUPPORTED);
        return NETSDK_ERR_ONVIF_UNSUPPORTED;
    }
    proto::JsonSet m;
    m.command = uint32_t(nCommand);
    m.channel = nChannelNO;
    m.name = szCommandName;
    /* A C string's terminator counted into the length is not part of the text. */
    m.text.assign(szInBuffer ? szInBuffer : "", size_t(nInBufferSize));
    m.text.resize(std::strlen(m.text.c_str()));
    proto::Frame answer;
    long r = request(
        lLoginID, clampWait(nWaitTime), proto::MSG_JSON_SET,
        [&](uint32_t seq, uint32_t id) { return proto::encodeJsonSet(seq, id, m); }, answer);
    if (r != 0) {
        setError(r);
        return r;
    }
    std::string text;
    if (szOutBuffer && nOutBufferSize > 0 && proto::decodeJsonText(answer, text) == proto::Result::Ok) {
        size_t n = std::min(text.size(), size_t(nOutBufferSize - 1));
        std::memcpy(szOutBuffer, text.data(), n);
        szOutBuffer[n] = 0;
    }
    return configResult(answer);
}

long H264_DVR_SetDevConfig_JsonV2(long lLoginID, const char *szCommandName, int nCommand, int nChannelNO,
                                  const char *szInBuffer, int nInBufferSize, int nWaitTime)
{
    return H264_DVR_SetDevConfig_JsonV2_EX(lLoginID, szCommandName, nCommand, nChannelNO, szInBuffer,
                                           nInBufferSize, nullptr, 0, nWaitTime);
}
