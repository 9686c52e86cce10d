#include "logo/cramfswriter.h"
#include "logo/imagewrapper.h"

#include "logotestutil.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace logotest;

namespace
{

uint32_t le32(const QByteArray &b, int off)
{
    const auto *p = reinterpret_cast<const uint8_t *>(b.constData()) + off;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t be32(const QByteArray &b, int off)
{
    const auto *p = reinterpret_cast<const uint8_t *>(b.constData()) + off;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

struct Inode {
    QByteArray name;
    uint32_t mode, size, offset; // offset in bytes
};

/** Reads one directory's entries from an image. */
std::vector<Inode> listDir(const QByteArray &img, uint32_t offset, uint32_t size)
{
    std::vector<Inode> out;
    uint32_t pos = offset;
    while (pos < offset + size) {
        Inode i;
        i.mode = le32(img, int(pos)) & 0xFFFF;
        i.size = le32(img, int(pos + 4)) & 0xFFFFFF;
        const uint32_t w = le32(img, int(pos + 8));
        const uint32_t nameLen = (w & 0x3F) * 4;
        i.offset = (w >> 6) * 4;
        i.name = img.mid(int(pos + 12), int(nameLen));
        while (i.name.endsWith('\0'))
            i.name.chop(1);
        out.push_back(i);
        pos += 12 + nameLen;
    }
    return out;
}

std::map<QString, QByteArray> treeContents(const QString &root)
{
    std::map<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        const QString rel = QDir(root).relativeFilePath(p);
        out[rel] = QFileInfo(p).isDir() ? QByteArray("<dir>") : readFile(p);
    }
    return out;
}

class Cramfs : public ::testing::Test
{
protected:
    QString src(const QString &rel = QString()) const { return tmp.filePath(QStringLiteral("src/") + rel); }
    QString out(const QString &name = QStringLiteral("out.img")) const { return tmp.filePath(name); }
    void SetUp() override { ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("src"))); }
    void put(const QString &rel, const QByteArray &data)
    {
        QDir().mkpath(QFileInfo(src(rel)).path());
        ASSERT_TRUE(writeFile(src(rel), data));
    }
    QByteArray build(const QString &name = QStringLiteral("out.img"))
    {
        QString err;
        const int rc = makeCramfsImage(src(), out(name), &err);
        EXPECT_EQ(rc, 0) << err.toStdString();
        return readFile(out(name));
    }
    void expectFsckClean(const QString &image)
    {
        const ToolRun r = run(tool("fsck.cramfs"), {QStringLiteral("-v"), image});
        EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    }
    /** A mixed tree: sizes at the block edges, duplicates, sorted names, skipped names. */
    void mixedTree()
    {
        put("h264dvr.jpg", randomBytes(9000, 1));
        put("empty.bin", QByteArray());
        put("b4096", randomBytes(4096, 2));
        put("b4097", randomBytes(4097, 3));
        put("zeros", QByteArray(20000, '\0'));
        put("Thumbs.db", "skip me");
        put("thumbs.db", "keep me");
        put(".svn/entries", "skip");
        put("VideoLoss/videoLoss.gif", randomBytes(3000, 4));
        put("VideoBlank/blind.gif", randomBytes(3000, 4)); // duplicate of videoLoss.gif
        put("Colse/close.jpg", randomBytes(100, 5));
        put("Colse/deeper/more/x", "x");
        put("a/B/c", "abc");
        put(QString::fromUtf8("名字.txt"), "utf-8 name");
        QDir().mkpath(src("emptydir"));
    }
    QTemporaryDir tmp;
};

} // namespace

TEST_F(Cramfs, EmptyDirectory)
{
    const QByteArray img = build();
    ASSERT_EQ(img.size(), 4096);
    EXPECT_EQ(le32(img, 0), 0x28CD3D45u);
    EXPECT_EQ(le32(img, 4), 4096u);
    EXPECT_EQ(le32(img, 8), 3u);
    EXPECT_EQ(img.mid(16, 16), QByteArray("Compressed ROMFS"));
    EXPECT_EQ(le32(img, 40), 0u); // blocks
    EXPECT_EQ(le32(img, 44), 1u); // files: the root
    EXPECT_EQ(img.mid(48, 16), QByteArray("Compressed\0\0\0\0\0\0", 16));
    EXPECT_EQ(le32(img, 68) & 0xFFFFFF, 0u);     // root size
    EXPECT_EQ(le32(img, 72), uint32_t(19) << 6); // root offset 76, no name
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(src()).constData(), &st), 0);
    EXPECT_EQ(le32(img, 64) & 0xFFFF, uint32_t(st.st_mode) & 0xFFFF); // root mode untouched
    expectFsckClean(out());
}

// With every entry already at 0777 our additions change nothing, so the image must be the reference
// tool's byte for byte, but for two things: the reference compresses at zlib's default level, which
// shows in the second header byte of every block (incompressible data is stored alike at both levels),
// and hence in the CRC.
TEST_F(Cramfs, SameLayoutAsMkfsCramfs)
{
    put("h264dvr.jpg", randomBytes(9000, 1));
    put("empty.bin", QByteArray());
    put("b4096", randomBytes(4096, 2));
    put("b4097", randomBytes(4097, 3));
    put("VideoLoss/videoLoss.gif", randomBytes(3000, 4));
    put("VideoBlank/blind.gif", randomBytes(3000, 4));
    put("Colse/deeper/more/x", randomBytes(10, 6));
    put("a/B/c", randomBytes(11, 7));
    put("A", randomBytes(12, 8));
    put(QString::fromUtf8("名字.txt"), randomBytes(13, 9));
    QDir().mkpath(src("emptydir"));
    QDirIterator it(src(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ::chmod(QFile::encodeName(it.next()).constData(), 0777);
    const QByteArray ours = build();
    ASSERT_FALSE(ours.isEmpty());
    const ToolRun r = run(tool("mkfs.cramfs"), {src(), out("ref.img")});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
    const QByteArray ref = readFile(out("ref.img"));
    ASSERT_EQ(ours.size(), ref.size());

    std::set<int> levelBytes;
    std::function<void(uint32_t, uint32_t)> collect = [&](uint32_t off, uint32_t size) {
        for (const Inode &i : listDir(ours, off, size)) {
            if ((i.mode & 0170000) == 0040000) {
                if (i.offset)
                    collect(i.offset, i.size);
            } else if (i.size > 0) {
                const uint32_t blocks = (i.size - 1) / 4096 + 1;
                uint32_t start = i.offset + 4 * blocks;
                for (uint32_t b = 0; b < blocks; ++b) {
                    levelBytes.insert(int(start + 1));
                    start = le32(ours, int(i.offset + 4 * b));
                }
            }
        }
    };
    collect(76, le32(ours, 68) & 0xFFFFFF);
    ASSERT_EQ(levelBytes.size(), 3u + 1 + 2 + 1 + 1 + 1 + 1 + 1); // the blind.gif copy shares data

    int unexplained = 0;
    for (int i = 0; i < ours.size(); ++i) {
        if (ours[i] == ref[i] || (i >= 32 && i < 36))
            continue;
        if (levelBytes.count(i) && uint8_t(ours[i]) == 0xDA && uint8_t(ref[i]) == 0x9C)
            continue;
        ++unexplained;
        ADD_FAILURE() << "byte " << i << " differs";
        if (unexplained > 5)
            break;
    }
    EXPECT_EQ(unexplained, 0);
}

TEST_F(Cramfs, FsckExtractGivesTheTreeBack)
{
    mixedTree();
    build();
    expectFsckClean(out());
    const QString back = tmp.filePath(QStringLiteral("back"));
    const ToolRun r = run(tool("fsck.cramfs"), {QStringLiteral("--extract=") + back, out()});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();

    auto expected = treeContents(src());
    expected.erase(QStringLiteral("Thumbs.db"));
    expected.erase(QStringLiteral(".svn"));
    expected.erase(QStringLiteral(".svn/entries"));
    const auto got = treeContents(back);
    EXPECT_TRUE(got.count(QStringLiteral("thumbs.db")));
    EXPECT_FALSE(got.count(QStringLiteral("Thumbs.db")));
    EXPECT_TRUE(expected == got);
    // Entries get 0777 added; the listing goes to stdout and is not checked.
    for (const auto &[rel, data] : got) {
        const QFileInfo fi(back + QLatin1Char('/') + rel);
        if (!fi.isSymLink()) {
            EXPECT_EQ(int(fi.permissions() & 0x7777), 0x7777) << rel.toStdString();
        }
    }
}

TEST_F(Cramfs, LayoutDetails)
{
    mixedTree();
    const QByteArray img = build();
    const auto root = listDir(img, 76, le32(img, 68) & 0xFFFFFF);
    std::map<QByteArray, Inode> top;
    QList<QByteArray> names;
    for (const Inode &i : root) {
        top[i.name] = i;
        names << i.name;
    }
    // Sorted byte-wise, skipped names absent.
    QList<QByteArray> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(names, sorted);
    EXPECT_FALSE(top.count("Thumbs.db"));
    EXPECT_FALSE(top.count(".svn"));
    EXPECT_TRUE(top.count("thumbs.db"));

    EXPECT_EQ(top["empty.bin"].offset, 0u);
    EXPECT_EQ(top["emptydir"].offset, 0u);
    EXPECT_EQ(top["h264dvr.jpg"].mode, 0100777u);
    EXPECT_EQ(top["Colse"].mode, 040777u);

    // Block pointers: 4096 bytes → one, 4097 → two, each block a zlib stream starting after the table.
    for (const auto &[name, size] : {std::pair<QByteArray, uint32_t>{"b4096", 4096}, {"b4097", 4097}}) {
        const Inode &i = top[name];
        EXPECT_EQ(i.size, size);
        const uint32_t blocks = (size - 1) / 4096 + 1;
        EXPECT_EQ(blocks, name == "b4096" ? 1u : 2u);
        uint32_t start = i.offset + 4 * blocks;
        QByteArray data;
        for (uint32_t b = 0; b < blocks; ++b) {
            const uint32_t end = le32(img, int(i.offset + 4 * b));
            uLongf len = 4096;
            QByteArray block(4096, '\0');
            ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(block.data()), &len,
                                 reinterpret_cast<const Bytef *>(img.constData()) + start, end - start),
                      Z_OK);
            data += block.left(int(len));
            start = end;
        }
        EXPECT_EQ(data, readFile(src(QString::fromLatin1(name))));
    }

    // The two equal GIFs share one copy of the data, counted once in the blocks field.
    const auto loss = listDir(img, top["VideoLoss"].offset, top["VideoLoss"].size);
    const auto blank = listDir(img, top["VideoBlank"].offset, top["VideoBlank"].size);
    ASSERT_EQ(loss.size(), 1u);
    ASSERT_EQ(blank.size(), 1u);
    EXPECT_EQ(loss[0].offset, blank[0].offset);
    // 9000 + 4096 + 4097 + 20000 + 7 (thumbs.db) + 3000 (once) + 100 + 1 + 3 + 10 bytes of data.
    const uint32_t expectedBlocks = 3 + 1 + 2 + 5 + 1 + 1 + 1 + 1 + 1 + 1;
    EXPECT_EQ(le32(img, 40), expectedBlocks);
}

TEST_F(Cramfs, CrcCoversEveryByte)
{
    mixedTree();
    QByteArray img = build();
    auto crcOf = [](QByteArray b) {
        std::memset(b.data() + 32, 0, 4);
        return uint32_t(
            crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size())));
    };
    EXPECT_EQ(crcOf(img), le32(img, 32));
    for (int pos : {0, 40, 100, int(img.size() / 2), int(img.size() - 1)}) {
        QByteArray changed = img;
        changed[pos] = char(changed[pos] ^ 0x01);
        EXPECT_NE(crcOf(changed), le32(changed, 32)) << pos;
    }
    QByteArray changed = img;
    changed[200] = char(changed[200] ^ 0x40);
    ASSERT_TRUE(writeFile(out("bad.img"), changed));
    EXPECT_NE(run(tool("fsck.cramfs"), {out("bad.img")}).exitCode, 0);
}

TEST_F(Cramfs, TwoImagesInARow)
{
    put("one/a", randomBytes(5000, 7));
    const QByteArray first = build(QStringLiteral("1.img"));
    put("two/b", randomBytes(9000, 8));
    const QByteArray second = build(QStringLiteral("2.img"));
    EXPECT_EQ(le32(first, 44), 3u);
    EXPECT_EQ(le32(first, 40), 2u);
    EXPECT_EQ(le32(second, 44), 5u);
    EXPECT_EQ(le32(second, 40), 5u);
    QDir(src("two")).removeRecursively();
    EXPECT_EQ(build(QStringLiteral("3.img")), first);
}

TEST_F(Cramfs, LongNamesKeepUtf8Whole)
{
    const QByteArray a252(252, 'a');
    put(QString::fromLatin1(a252 + "xyz"), "ascii cut"); // 255 → 252
    put(QString::fromUtf8(QByteArray(251, 'b') + "\xE5\x90\x8D"
                                                 "c"),
        "utf-8 cut"); // cut inside 名
    build();
    const QString back = tmp.filePath(QStringLiteral("back"));
    ASSERT_EQ(run(tool("fsck.cramfs"), {QStringLiteral("--extract=") + back, out()}).exitCode, 0);
    EXPECT_EQ(readFile(back + QLatin1Char('/') + QString::fromLatin1(a252)), QByteArray("ascii cut"));
    EXPECT_EQ(readFile(back + QLatin1Char('/') + QString::fromLatin1(QByteArray(251, 'b'))),
              QByteArray("utf-8 cut"));
}

struct CramfsErrorCase {
    const char *name;
    int expected;
};

class CramfsErrors : public Cramfs, public ::testing::WithParamInterface<CramfsErrorCase>
{
};

TEST_P(CramfsErrors, FailWholeImage)
{
    const std::string name = GetParam().name;
    QString output = out();
    QString source = src();
    if (name == "output not creatable") {
        output = tmp.filePath(QStringLiteral("missing/out.img"));
    } else if (name == "source missing") {
        source = tmp.filePath(QStringLiteral("nowhere"));
    }
    QByteArray badName;
    if (name == "cut inside a bad sequence") {
        // 252 ASCII bytes, then a stray continuation byte: no sequence to keep whole.
        put(QString::fromLatin1(QByteArray(252, 'a')) + QStringLiteral("x"), "x");
        badName = QFile::encodeName(src()) + '/' + QByteArray(252, 'a') + "\x80\x80";
        ASSERT_EQ(
            ::rename(QFile::encodeName(src(QString::fromLatin1(QByteArray(252, 'a')) + QStringLiteral("x")))
                         .constData(),
                     badName.constData()),
            0);
    } else if (name == "fifo") {
        ASSERT_EQ(::mkfifo(QFile::encodeName(src(QStringLiteral("pipe"))).constData(), 0644), 0);
    } else if (name == "file over 16 MiB") {
        QFile f(src(QStringLiteral("big")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(0x1000000));
    }
    put(QStringLiteral("ok.txt"), "fine");
    QString err;
    EXPECT_EQ(makeCramfsImage(source, output, &err), GetParam().expected);
    EXPECT_FALSE(err.isEmpty());
    EXPECT_FALSE(QFile::exists(output)); // no half-made image is left behind
    if (!badName.isEmpty())
        ::unlink(badName.constData()); // QTemporaryDir cannot name it
}

INSTANTIATE_TEST_SUITE_P(Table, CramfsErrors,
                         ::testing::Values(CramfsErrorCase{"output not creatable", -40},
                                           CramfsErrorCase{"source missing", -41},
                                           CramfsErrorCase{"cut inside a bad sequence", -42},
                                           CramfsErrorCase{"fifo", -42},
                                           CramfsErrorCase{"file over 16 MiB", -44}),
                         [](const ::testing::TestParamInfo<CramfsErrorCase> &info) {
                             std::string n = info.param.name;
                             for (char &c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

// ---- the image header ----

class Wrap : public Cramfs
{
};

TEST_F(Wrap, SameBytesAsMkimageAndDumpimageReadsIt)
{
    put("h264dvr.jpg", randomBytes(5000, 9));
    build(QStringLiteral("raw.img"));
    ASSERT_EQ(wrapImageFile(out("raw.img"), out("wrapped.img"), 0x34770000, 0x34780000), 0);
    const QByteArray wrapped = readFile(out("wrapped.img"));
    const QByteArray raw = readFile(out("raw.img"));
    ASSERT_EQ(wrapped.size(), raw.size() + 64);
    EXPECT_EQ(wrapped.mid(64), raw);
    EXPECT_EQ(be32(wrapped, 0), 0x27051956u);
    EXPECT_EQ(be32(wrapped, 8), uint32_t(QFileInfo(out("raw.img")).lastModified().toSecsSinceEpoch()));

    const ToolRun list = run(tool("dumpimage"), {QStringLiteral("-l"), out("wrapped.img")});
    EXPECT_EQ(list.exitCode, 0);
    // dumpimage names the legacy type only when both CRCs hold.
    EXPECT_TRUE(list.out.contains("Image Type:   ARM Linux Kernel Image (gzip compressed)"))
        << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("Image Name:   Linux"));
    EXPECT_TRUE(list.out.contains("Load Address: 34770000"));
    EXPECT_TRUE(list.out.contains("Entry Point:  34780000"));
    EXPECT_TRUE(list.out.contains(
        QByteArray(QByteArray("Data Size:    ") + QByteArray::number(raw.size()) + " Bytes")));

    // mkimage, told the source's time, writes the very same header.
    QProcess mk;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SOURCE_DATE_EPOCH"), QString::number(be32(wrapped, 8)));
    mk.setProcessEnvironment(env);
    mk.start(tool("mkimage"),
             {QStringLiteral("-A"), QStringLiteral("arm"), QStringLiteral("-O"), QStringLiteral("linux"),
              QStringLiteral("-T"), QStringLiteral("kernel"), QStringLiteral("-C"), QStringLiteral("gzip"),
              QStringLiteral("-a"), QStringLiteral("0x34770000"), QStringLiteral("-e"),
              QStringLiteral("0x34780000"), QStringLiteral("-n"), QStringLiteral("Linux"),
              QStringLiteral("-d"), out("raw.img"), out("mk.img")});
    ASSERT_TRUE(mk.waitForFinished(60000));
    EXPECT_EQ(readFile(out("mk.img")), wrapped);

    QByteArray corrupt = wrapped;
    corrupt[100] = char(corrupt[100] ^ 1);
    ASSERT_TRUE(writeFile(out("corrupt.img"), corrupt));
    EXPECT_FALSE(run(tool("dumpimage"), {QStringLiteral("-l"), out("corrupt.img")})
                     .out.contains("ARM Linux Kernel Image"));
}

TEST_F(Wrap, EmptySource)
{
    ASSERT_TRUE(writeFile(out("zero"), QByteArray()));
    ASSERT_EQ(wrapImageFile(out("zero"), out("w"), 1, 2), 0);
    const QByteArray w = readFile(out("w"));
    ASSERT_EQ(w.size(), 64);
    EXPECT_EQ(be32(w, 12), 0u);
    EXPECT_EQ(be32(w, 24), 0u); // CRC of nothing
    EXPECT_EQ(be32(w, 16), 1u);
    EXPECT_EQ(be32(w, 20), 2u);
}

TEST_F(Wrap, Errors)
{
    ASSERT_TRUE(writeFile(out("srcfile"), "data"));
    EXPECT_EQ(wrapImageFile(out("absent"), out("w1"), 0, 0), -51);
    EXPECT_FALSE(QFile::exists(out("w1")));
    EXPECT_EQ(wrapImageFile(out("srcfile"), tmp.filePath(QStringLiteral("no/dir/w")), 0, 0), -50);
    QFile big(out("big"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(kMaxWrappedBytes + 1));
    big.close();
    EXPECT_EQ(wrapImageFile(out("big"), out("w2"), 0, 0), -52);
    EXPECT_FALSE(QFile::exists(out("w2")));
}
