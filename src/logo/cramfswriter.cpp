#include "logo/cramfswriter.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace
{

constexpr uint32_t kMagic = 0x28CD3D45;
constexpr uint32_t kFlags = 0x00000003; // version-2 fsid, sorted directories
constexpr size_t kSuperSize = 76;
constexpr size_t kBlockSize = 4096;
constexpr uint32_t kMaxEntrySize = 0xFFFFFF;
constexpr size_t kMaxImage = 285229051;
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kKeptNameBytes = 252;
constexpr int kMaxDepth = 64; // also stops a directory link that points at its own parent

struct Node {
    std::string name;
    uint32_t mode = 0;
    uint32_t uid = 0;
    uint32_t gid = 0;
    uint32_t size = 0;
    std::string path; // files with data only
    std::vector<std::unique_ptr<Node>> children;
    bool isDir = false;
    const Node *same = nullptr; // duplicate: shares this node's data
    size_t inodeOffset = 0;
    size_t dataOffset = 0;
    // Content fingerprint for the duplicate search, read on demand.
    bool hashed = false;
    uint32_t crc = 0;
};

size_t padded(size_t n)
{
    return (n + 3) & ~size_t(3);
}

void put32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

QString fromBytes(const std::string &s)
{
    return QFile::decodeName(QByteArray(s.data(), int(s.size())));
}

bool readWhole(const std::string &path, size_t size, std::vector<uint8_t> &out)
{
    out.resize(size);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, out.data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    return got == size;
}

/** Keeps a name within 252 bytes without splitting a UTF-8 sequence. */
bool cutName(std::string &name)
{
    if (name.size() > kMaxNameBytes)
        return false;
    if (name.size() <= kKeptNameBytes)
        return true;
    size_t len = kKeptNameBytes;
    auto continuation = [&](size_t i) { return (uint8_t(name[i]) & 0xC0) == 0x80; };
    if (continuation(len)) {
        while (len > 0 && continuation(len))
            --len;
        // Now on the sequence's lead byte, which goes too; an ASCII byte here means the name was
        // not UTF-8 to begin with.
        if (len == 0 || uint8_t(name[len]) < 0x80)
            return false;
    }
    name.resize(len);
    return true;
}

class CramfsWriter
{
public:
    int run(const QString &sourceDir, const QString &outputFile, QString *errorText);

private:
    int build(const QString &sourceDir, const QString &outputFile);
    int buildInto(int fd, const std::string &source);
    int fail(int code, const QString &text)
    {
        m_error = text;
        return code;
    }
    int walk(const std::string &dirPath, Node &dir, int depth);
    int findDuplicates();
    bool sameContent(Node &a, Node &b);
    bool setOffset(size_t inodeOffset, size_t offset);
    size_t writeDirectories(Node &root, size_t offset);
    int writeData(Node &dir, size_t &offset);
    void printNode(const Node &n) const;

    QString m_error;
    std::unique_ptr<Node> m_root;
    uint64_t m_bound = 0;
    uint32_t m_blocks = 0;
    uint32_t m_files = 0;
    std::vector<uint8_t> m_image;
    std::vector<uint8_t> m_fileBuf;
};

int CramfsWriter::walk(const std::string &dirPath, Node &dir, int depth)
{
    if (depth > kMaxDepth)
        return fail(CramfsBadTree, QStringLiteral("directories nested too deep: %1").arg(fromBytes(dirPath)));
    DIR *d = ::opendir(dirPath.c_str());
    if (!d)
        return fail(CramfsBadTree,
                    QStringLiteral("cannot list directory %1: %2")
                        .arg(fromBytes(dirPath), QString::fromLocal8Bit(std::strerror(errno))));
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == "Thumbs.db" || name == ".svn")
            continue;
        names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());

    uint64_t total = 0;
    for (const std::string &full : names) {
        std::string name = full;
        if (!cutName(name))
            return fail(CramfsBadTree,
                        QStringLiteral("name cannot be shortened to 252 bytes: %1").arg(fromBytes(full)));
        if (!dir.children.empty() && dir.children.back()->name == name)
            return fail(CramfsBadTree,
                        QStringLiteral("two names are the same once shortened: %1").arg(fromBytes(full)));
        const std::string path = dirPath + '/' + full;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return fail(CramfsBadTree, QStringLiteral("cannot read the status of %1").arg(fromBytes(path)));

        auto node = std::make_unique<Node>();
        node->name = name;
        node->mode = uint32_t(st.st_mode | 0777) & 0xFFFF;
        node->uid = uint32_t(st.st_uid) & 0xFFFF;
        node->gid = uint32_t(st.st_gid) & 0xFF;
        if (S_ISDIR(st.st_mode)) {
            node->isDir = true;
            if (int rc = walk(path, *node, depth + 1))
                return rc;
        } else if (S_ISREG(st.st_mode)) {
            // Larger files do not fit the 24-bit size field; storing them cut short would lose data.
            if (uint64_t(st.st_size) > kMaxEntrySize)
                return fail(CramfsTooLarge,
                            QStringLiteral("file too large for the image: %1").arg(fromBytes(path)));
            node->size = uint32_t(st.st_size);
            if (node->size > 0) {
                node->path = path;
                const uint64_t blocks = (node->size - 1) / kBlockSize + 1;
                m_bound += blocks * 30 + node->size + 3;
            }
        } else {
            return fail(CramfsBadTree, QStringLiteral("not a file or directory: %1").arg(fromBytes(path)));
        }
        const size_t entry = 12 + padded(name.size());
        m_bound += entry;
        total += entry;
        dir.children.push_back(std::move(node));
    }
    if (total > kMaxEntrySize)
        return fail(CramfsTooLarge, QStringLiteral("directory too large: %1").arg(fromBytes(dirPath)));
    dir.size = uint32_t(total);
    return CramfsOk;
}

bool CramfsWriter::sameContent(Node &a, Node &b)
{
    auto fingerprint = [this](Node &n) {
        if (!n.hashed) {
            if (!readWhole(n.path, n.size, m_fileBuf))
                return false;
            n.crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), m_fileBuf.data(), uInt(n.size)));
            n.hashed = true;
        }
        return true;
    };
    if (!fingerprint(a) || !fingerprint(b) || a.crc != b.crc)
        return false;
    std::vector<uint8_t> other;
    return readWhole(a.path, a.size, m_fileBuf) && readWhole(b.path, b.size, other) &&
           std::memcmp(m_fileBuf.data(), other.data(), a.size) == 0;
}

int CramfsWriter::findDuplicates()
{
    // Pre-order over the tree; for each file with data the earlier files of the same size are the
    // candidates, tried in pre-order, so the first equal one becomes its source.
    std::vector<Node *> order;
    std::vector<Node *> pending;
    // Iterative pre-order: children pushed in reverse so the first child comes out first.
    auto pushChildren = [&pending](Node &n) {
        for (auto it = n.children.rbegin(); it != n.children.rend(); ++it)
            pending.push_back(it->get());
    };
    pushChildren(*m_root);
    while (!pending.empty()) {
        Node *n = pending.back();
        pending.pop_back();
        order.push_back(n);
        pushChildren(*n);
    }

    std::map<uint32_t, std::vector<Node *>> bySize;
    for (Node *n : order) {
        if (n->path.empty())
            continue;
        std::vector<Node *> &candidates = bySize[n->size];
        for (Node *c : candidates) {
            if (sameContent(*c, *n)) {
                n->same = c;
                break;
            }
        }
        candidates.push_back(n);
    }
    return CramfsOk;
}

void CramfsWriter::printNode(const Node &n) const
{
    char info[16];
    std::snprintf(info, sizeof info, "%9d", int(n.size));
    std::printf("%c %04o %s %5d:%-3d %s\n", 'f', unsigned(n.mode & 07777), info, int(n.uid), int(n.gid),
                n.name.c_str());
}

bool CramfsWriter::setOffset(size_t inodeOffset, size_t offset)
{
    // 26 bits of 4-byte units.
    if (offset >= (size_t(1) << 28))
        return false;
    uint8_t *w = m_image.data() + inodeOffset + 8;
    put32(w, (get32(w) & 0x3F) | uint32_t(offset >> 2) << 6);
    return true;
}

size_t CramfsWriter::writeDirectories(Node &root, size_t offset)
{
    // Every directory's entries lie together, top level first; subdirectories are taken from a
    // stack, the part pushed for one directory reversed so that they come out in name order.
    std::vector<Node *> stack;
    const std::vector<std::unique_ptr<Node>> *entries = &root.children;
    std::printf("root:\n");
    for (;;) {
        const size_t dirStart = stack.size();
        for (const auto &e : *entries) {
            uint8_t *inode = m_image.data() + offset;
            e->inodeOffset = offset;
            const size_t len = e->name.size();
            const size_t plen = padded(len);
            put32(inode, e->mode | e->uid << 16);
            put32(inode + 4, e->size | e->gid << 24);
            put32(inode + 8, uint32_t(plen >> 2));
            offset += 12;
            ++m_files;
            std::memcpy(m_image.data() + offset, e->name.data(), len);
            offset += plen;
            printNode(*e);
            if (!e->children.empty())
                stack.push_back(e.get());
        }
        std::reverse(stack.begin() + std::ptrdiff_t(dirStart), stack.end());
        if (stack.empty())
            break;
        Node *dir = stack.back();
        stack.pop_back();
        setOffset(dir->inodeOffset, offset); // directory entries are far below the offset limit
        std::printf("%s:\n", dir->name.c_str());
        entries = &dir->children;
    }
    return offset;
}

int CramfsWriter::writeData(Node &dir, size_t &offset)
{
    for (auto &e : dir.children) {
        if (!e->path.empty()) {
            if (e->same) {
                e->dataOffset = e->same->dataOffset;
                setOffset(e->inodeOffset, e->dataOffset);
                continue;
            }
            e->dataOffset = offset;
            if (!setOffset(e->inodeOffset, offset))
                return fail(CramfsTooLarge, QStringLiteral("image too large"));
            // The file may have changed since the walk; anything but its full recorded size fails.
            if (!readWhole(e->path, e->size, m_fileBuf))
                return fail(CramfsReadFailed, QStringLiteral("cannot read %1").arg(fromBytes(e->path)));
            const size_t blocks = (e->size - 1) / kBlockSize + 1;
            size_t curr = offset + 4 * blocks;
            const uint8_t *src = m_fileBuf.data();
            size_t left = e->size;
            for (size_t b = 0; b < blocks; ++b) {
                const size_t input = std::min(left, kBlockSize);
                if (curr >= m_image.size())
                    return fail(CramfsTooLarge, QStringLiteral("image too large"));
                uLongf len = uLongf(m_image.size() - curr);
                if (compress2(m_image.data() + curr, &len, src, uLong(input), Z_BEST_COMPRESSION) != Z_OK)
                    return fail(CramfsReadFailed,
                                QStringLiteral("cannot compress %1").arg(fromBytes(e->path)));
                src += input;
                left -= input;
                curr += len;
                put32(m_image.data() + offset + 4 * b, uint32_t(curr));
            }
            m_blocks += uint32_t(blocks);
            offset = padded(curr);
        } else if (!e->children.empty()) {
            if (int rc = writeData(*e, offset))
                return rc;
        }
    }
    return CramfsOk;
}

int CramfsWriter::run(const QString &sourceDir, const QString &outputFile, QString *errorText)
{
    const int rc = build(sourceDir, outputFile);
    if (rc != CramfsOk) {
        if (errorText)
            *errorText = m_error;
    }
    return rc;
}

int CramfsWriter::build(const QString &sourceDir, const QString &outputFile)
{
    m_blocks = 0;
    m_files = 1; // the root
    const QByteArray out = QFile::encodeName(outputFile);
    const int fd = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(CramfsCannotCreate, QStringLiteral("cannot create %1: %2")
                                            .arg(outputFile, QString::fromLocal8Bit(std::strerror(errno))));
    const int rc = buildInto(fd, QFile::encodeName(sourceDir).toStdString());
    ::close(fd);
    if (rc != CramfsOk)
        ::unlink(out.constData()); // a half-made image must not be taken for a good one
    return rc;
}

int CramfsWriter::buildInto(int fd, const std::string &source)
{
    struct stat st;
    if (::stat(source.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(CramfsNoRoot, QStringLiteral("not a directory: %1").arg(fromBytes(source)));
    m_root = std::make_unique<Node>();
    m_root->isDir = true;
    m_root->mode = uint32_t(st.st_mode) & 0xFFFF; // the root keeps its own permissions
    m_root->uid = uint32_t(st.st_uid) & 0xFFFF;
    m_root->gid = uint32_t(st.st_gid) & 0xFF;

    m_bound = kSuperSize;
    if (int rc = walk(source, *m_root, 0))
        return rc;
    m_bound = (m_bound + kBlockSize - 1) & ~uint64_t(kBlockSize - 1);
    if (m_bound > kMaxImage)
        return fail(CramfsTooLarge, QStringLiteral("the tree is too large for an image"));
    if (int rc = findDuplicates())
        return rc;

    try {
        m_image.assign(size_t(m_bound), 0);
    } catch (const std::bad_alloc &) {
        return fail(CramfsTooLarge, QStringLiteral("out of memory"));
    }
    size_t offset = writeDirectories(*m_root, kSuperSize);
    if (int rc = writeData(*m_root, offset))
        return rc;
    const size_t length = (offset + kBlockSize - 1) & ~(kBlockSize - 1);
    if (length > m_image.size())
        return fail(CramfsTooLarge, QStringLiteral("image too large"));

    uint8_t *sb = m_image.data();
    put32(sb + 0, kMagic);
    put32(sb + 4, uint32_t(length));
    put32(sb + 8, kFlags);
    put32(sb + 12, 0);
    std::memcpy(sb + 16, "Compressed ROMFS", 16);
    put32(sb + 32, 0);
    put32(sb + 36, 0);
    put32(sb + 40, m_blocks);
    put32(sb + 44, m_files);
    std::memset(sb + 48, 0, 16);
    std::memcpy(sb + 48, "Compressed", 10);
    put32(sb + 64, m_root->mode | m_root->uid << 16);
    put32(sb + 68, m_root->size | m_root->gid << 24);
    put32(sb + 72, uint32_t(kSuperSize >> 2) << 6);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), sb, uInt(length));
    put32(sb + 32, uint32_t(crc));

    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, sb + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(CramfsCannotCreate, QStringLiteral("cannot write the image: %1")
                                                .arg(QString::fromLocal8Bit(std::strerror(errno))));
        done += size_t(n);
    }
    return CramfsOk;
}

} // namespace

int makeCramfsImage(const QString &sourceDir, const QString &outputFile, QString *errorText)
{
    CramfsWriter writer;
    return writer.run(sourceDir, outputFile, errorText);
}
