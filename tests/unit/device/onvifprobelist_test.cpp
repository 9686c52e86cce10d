// The operator's list of addresses a search probes directly for ONVIF cameras: what it takes, what
// it refuses and why, and what reaches the SDK.

#include "device/onvifprobelist.h"

#include <gtest/gtest.h>

namespace
{

TEST(OnvifProbeList, EntriesAndRanges)
{
    struct Case {
        const char *name;
        const char *text;
        const char *stored;    ///< nullptr: refused
        const char *addresses; ///< what the SDK gets
        const char *error;     ///< a part of the reason
    };
    const Case cases[] = {
        {"empty", "", "", "", nullptr},
        {"one address", "192.168.5.20", "192.168.5.20", "192.168.5.20", nullptr},
        {"lines, commas and blanks", "10.0.0.1\n 10.0.0.2 ,10.0.0.3;", "10.0.0.1, 10.0.0.2, 10.0.0.3",
         "10.0.0.1,10.0.0.2,10.0.0.3", nullptr},
        {"range by last byte", "127.0.9.254-255", "127.0.9.254-255", "127.0.9.254,127.0.9.255", nullptr},
        {"range across a subnet", "10.0.0.255-10.0.1.1", "10.0.0.255-10.0.1.1",
         "10.0.0.255,10.0.1.0,10.0.1.1", nullptr},
        {"repeats once", "10.0.0.1 10.0.0.1-2", "10.0.0.1, 10.0.0.1-2", "10.0.0.1,10.0.0.2", nullptr},
        {"a range of one", "10.0.0.7-7", "10.0.0.7-7", "10.0.0.7", nullptr},
        {"not an address", "camera.local", nullptr, "", "camera.local"},
        {"byte above 255", "10.0.0.256", nullptr, "", "10.0.0.256"},
        {"leading zero", "10.0.0.010", nullptr, "", "10.0.0.010"},
        {"three bytes", "10.0.1", nullptr, "", "10.0.1"},
        {"backwards", "10.0.0.9-3", nullptr, "", "backwards"},
        {"end above 255", "10.0.0.9-300", nullptr, "", "10.0.0.9-300"},
        {"open end", "10.0.0.9-", nullptr, "", "10.0.0.9-"},
        {"multicast", "239.255.255.250", nullptr, "", "multicast"},
        {"broadcast", "255.255.255.255", nullptr, "", "broadcast"},
        {"unspecified", "0.0.0.0", nullptr, "", "0.0.0.0"},
        {"range into multicast", "223.255.255.255-224.0.0.1", nullptr, "", "multicast"},
        {"1024 in all", "10.0.0.0-10.0.3.255", "10.0.0.0-10.0.3.255", nullptr, nullptr},
        {"1025 in all", "10.0.0.0-10.0.3.255 10.0.9.1", nullptr, "", "1024"},
        {"one bad entry refuses all", "10.0.0.1, nope", nullptr, "", "nope"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const OnvifProbeList::Parsed p = OnvifProbeList::parse(QString::fromUtf8(c.text));
        EXPECT_EQ(p.ok(), c.stored != nullptr) << p.error.toStdString();
        if (c.stored) {
            EXPECT_EQ(OnvifProbeList::stored(p).toStdString(), c.stored);
            // What is stored reads back as the same list.
            EXPECT_EQ(OnvifProbeList::parse(OnvifProbeList::stored(p)).addresses, p.addresses);
        }
        if (c.error) {
            EXPECT_NE(p.error.indexOf(QString::fromUtf8(c.error)), -1) << p.error.toStdString();
        }
        if (c.addresses) {
            EXPECT_EQ(OnvifProbeList::sdkAddresses(QString::fromUtf8(c.text)).toStdString(), c.addresses);
        }
    }
    EXPECT_EQ(OnvifProbeList::parse(QStringLiteral("10.0.0.0-10.0.3.255")).addresses.size(), 1024);
}

} // namespace
