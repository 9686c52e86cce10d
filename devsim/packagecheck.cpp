#include "packagecheck.h"

#include "cramfsreader.h"
#include "imageheader.h"

#include <json/json.h>
#include <unzip.h>

#include <cstring>
#include <memory>
#include <sstream>

namespace devsim
{

const char *const kLogoMember = "logo-x.cramfs.img";

namespace
{

constexpr uint64_t kMaxDescSize = 1u << 20;
// Without a partition size a logo image is still bounded; no logo partition is this large.
constexpr uint64_t kMaxLogoSize = 32u << 20;

constexpr int kNoMemory = -11804;
constexpr int kBadPacket = -11805;
constexpr int kBadHardware = -11807;

struct ZipCloser {
    void operator()(void *z) const { unzClose(static_cast<unzFile>(z)); }
};
using ZipPtr = std::unique_ptr<void, ZipCloser>;

PackageCheck failed(int code, const std::string &error)
{
    PackageCheck r;
    r.code = code;
    r.error = error;
    return r;
}

// Reads one member whole; false when missing, unreadable or larger than limit (*tooLarge set).
bool readMember(unzFile zip, const std::string &name, uint64_t limit, std::vector<uint8_t> *out,
                bool *tooLarge)
{
    *tooLarge = false;
    if (unzLocateFile(zip, name.c_str(), 1) != UNZ_OK)
        return false;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (info.uncompressed_size > limit) {
        *tooLarge = true;
        return false;
    }
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return false;
    out->clear();
    out->reserve(size_t(info.uncompressed_size));
    uint8_t buf[16384];
    int n;
    bool ok = true;
    while ((n = unzReadCurrentFile(zip, buf, sizeof buf)) > 0) {
        if (out->size() + size_t(n) > limit) {
            *tooLarge = true;
            ok = false;
            break;
        }
        out->insert(out->end(), buf, buf + n);
    }
    if (n < 0)
        ok = false;
    // unzCloseCurrentFile reports a CRC mismatch of the member once it has been read to the end.
    if (unzCloseCurrentFile(zip) != UNZ_OK)
        ok = false;
    return ok;
}

// Reads a member through to its end without keeping it, so that its CRC is checked.
bool drainMember(unzFile zip)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return false;
    std::vector<uint8_t> buf(65536);
    int n;
    while ((n = unzReadCurrentFile(zip, buf.data(), unsigned(buf.size()))) > 0) {
    }
    const bool closed = unzCloseCurrentFile(zip) == UNZ_OK;
    return n == 0 && closed;
}

bool isLogoMember(const std::string &name)
{
    return name == kLogoMember || name.find(".cramfs") != std::string::npos;
}

void checkLogo(unzFile zip, const std::string &member, const PackageTarget &target, PackageCheck &r)
{
    uint64_t room = kMaxLogoSize;
    if (target.logoEnd > target.logoStart)
        room = target.logoEnd - target.logoStart;
    bool tooLarge = false;
    std::vector<uint8_t> image;
    if (!readMember(zip, member, room, &image, &tooLarge)) {
        r = tooLarge ? failed(kNoMemory, "logo image larger than the logo partition")
                     : failed(kBadPacket, "logo image unreadable");
        return;
    }
    LegacyImageHeader header;
    std::string error;
    if (!checkLegacyImage(image.data(), image.size(), &header, &error)) {
        r = failed(kBadPacket, error);
        return;
    }
    const uint8_t *fs = image.data() + LegacyImageHeader::kSize;
    const size_t fsSize = image.size() - LegacyImageHeader::kSize;
    if (fsSize >= 4 && std::memcmp(fs, "hsqs", 4) == 0) {
        r.fsType = "squashfs";
    } else if (CramfsReader::verify(fs, fsSize, &error)) {
        r.fsType = "cramfs";
    } else {
        r = failed(kBadPacket, error);
        return;
    }
    r.isLogo = true;
    r.logoFs.assign(fs, fs + fsSize);
    r.logoImage = std::move(image);
}

} // namespace

PackageCheck checkPackage(const std::string &path, const PackageTarget &target)
{
    ZipPtr zip(unzOpen64(path.c_str()));
    if (!zip)
        return failed(kBadPacket, "not a zip archive");
    unzFile z = static_cast<unzFile>(zip.get());

    std::vector<uint8_t> descBytes;
    bool tooLarge = false;
    if (!readMember(z, "InstallDesc", kMaxDescSize, &descBytes, &tooLarge))
        return failed(kBadPacket, "no readable InstallDesc");

    Json::CharReaderBuilder builder;
    Json::Value desc;
    std::string errs;
    std::istringstream in(std::string(descBytes.begin(), descBytes.end()));
    if (!Json::parseFromStream(builder, in, &desc, &errs) || !desc.isObject())
        return failed(kBadPacket, "InstallDesc is not a JSON object");

    PackageCheck r;
    if (desc.isMember("Hardware") && desc["Hardware"].isString())
        r.hardware = desc["Hardware"].asString();
    if (desc["Version"].isString())
        r.version = desc["Version"].asString().substr(0, 63);
    if (desc["BuildDate"].isString())
        r.buildDate = desc["BuildDate"].asString();
    if (r.hardware != target.hardware && (target.model.empty() || r.hardware != target.model))
        return failed(kBadHardware,
                      "package hardware \"" + r.hardware + "\" is not \"" + target.hardware + "\"");

    if (desc.isMember("UpgradeCommand")) {
        const Json::Value &cmds = desc["UpgradeCommand"];
        if (!cmds.isArray())
            return failed(kBadPacket, "UpgradeCommand is not a list");
        for (const Json::Value &cmd : cmds) {
            if (!cmd.isObject() || !cmd["Command"].isString())
                return failed(kBadPacket, "UpgradeCommand entry without Command");
            if (cmd["Command"].asString() != "Burn")
                continue;
            if (!cmd["FileName"].isString())
                return failed(kBadPacket, "Burn command without FileName");
            const std::string member = cmd["FileName"].asString();
            if (unzLocateFile(z, member.c_str(), 1) != UNZ_OK)
                return failed(kBadPacket, "package lacks " + member);
            if (isLogoMember(member)) {
                checkLogo(z, member, target, r);
                if (r.code != 0)
                    return r;
            } else if (!drainMember(z)) {
                return failed(kBadPacket, member + " is damaged");
            }
        }
    }
    return r;
}

} // namespace devsim
