#include "platform/bom/BomWriter.h"

#include "platform/bom/BomFormat.h"
#include "platform/bom/PosixChecksum.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace platform {

using namespace bom;

namespace {

constexpr size_t kMaxPathBytes = 1023;
constexpr size_t kArenaChunk = 1 << 20;

quint16 typeBits(BomEntry::Type type)
{
    switch (type) {
    case BomEntry::Type::File: return 0100000;
    case BomEntry::Type::Directory: return 040000;
    case BomEntry::Type::Link: return 0120000;
    case BomEntry::Type::Device:   // character or block: only the caller knows
    case BomEntry::Type::Unknown: break;
    }
    return 0;
}

bool validPath(std::string_view path)
{
    if (path.empty() || path.size() > kMaxPathBytes || path.find('\0') != std::string_view::npos)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string_view part = path.substr(start, slash == std::string_view::npos ? std::string_view::npos
                                                                                         : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

} // namespace

BomWriter::BomWriter()
{
    m_root.name = ".";
}
BomWriter::~BomWriter() = default;
BomWriter::BomWriter(BomWriter &&) noexcept = default;
BomWriter &BomWriter::operator=(BomWriter &&) noexcept = default;

std::string_view BomWriter::store(std::string_view bytes)
{
    if (m_arena.empty() || m_arenaSize - m_arenaUsed < bytes.size()) {
        m_arenaSize = std::max(kArenaChunk, bytes.size());
        m_arena.push_back(std::make_unique<char[]>(m_arenaSize));
        m_arenaUsed = 0;
    }
    char *at = m_arena.back().get() + m_arenaUsed;
    std::memcpy(at, bytes.data(), bytes.size());
    m_arenaUsed += bytes.size();
    return std::string_view(at, bytes.size());
}

// The node index of the folder holding `path`, adding missing folders on the
// way up; kTop for a top-level path, kFailed when the parent is no folder.
quint32 BomWriter::parentOf(std::string_view path, QString *error)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return kTop;
    const std::string_view parentPath = path.substr(0, slash);
    if (auto it = m_index.find(parentPath); it != m_index.end()) {
        Node &parent = m_nodes[it->second];
        if (parent.type != BomEntry::Type::Directory) {
            if (error)
                *error = QStringLiteral("%1 is not a folder").arg(QString::fromUtf8(parentPath.data(), qsizetype(parentPath.size())));
            return kFailed;
        }
        parent.hasChildren = true;
        return it->second;
    }
    // Depth is bounded by the path length check, so recursion stays shallow.
    const quint32 grandparent = parentOf(parentPath, error);
    if (grandparent == kFailed)
        return kFailed;
    const std::string_view stored = store(parentPath);
    Node node;
    node.name = stored.substr(stored.rfind('/') + 1);
    node.parent = grandparent;
    node.hasChildren = true;
    const quint32 index = quint32(m_nodes.size());
    m_nodes.push_back(std::move(node));
    m_index.emplace(stored, index);
    return index;
}

bool BomWriter::assign(Node &node, const BomEntry &entry, QString *error)
{
    if (entry.type == BomEntry::Type::Unknown) {
        if (error)
            *error = QStringLiteral("%1 has no type").arg(entry.path);
        return false;
    }
    if (node.hasChildren && entry.type != BomEntry::Type::Directory) {
        if (error)
            *error = QStringLiteral("%1 has entries below it and must stay a folder").arg(entry.path);
        return false;
    }
    node.type = entry.type;
    node.mode = entry.mode;
    if ((node.mode & 0170000) == 0)
        node.mode |= typeBits(entry.type);
    node.uid = entry.uid;
    node.gid = entry.gid;
    node.mtime = entry.mtime;
    node.size = quint32(entry.size);
    node.checksum = entry.checksum;
    node.device = entry.device;
    node.linkTarget.clear();
    if (entry.type == BomEntry::Type::Link) {
        node.linkTarget = entry.linkTarget.toUtf8();
        node.size = quint32(node.linkTarget.size());
        node.checksum = posixChecksum(node.linkTarget);
    }
    return true;
}

bool BomWriter::addEntry(const BomEntry &entry, QString *error)
{
    QByteArray utf8 = entry.path.toUtf8();
    if (utf8.isEmpty() || utf8 == ".") {
        if (entry.type != BomEntry::Type::Directory) {
            if (error)
                *error = QStringLiteral("the root \".\" must be a folder");
            return false;
        }
        if (!assign(m_root, entry, error))
            return false;
        m_rootSet = true;
        return true;
    }
    std::string_view path(utf8.constData(), size_t(utf8.size()));
    if (path.substr(0, 2) == "./")
        path.remove_prefix(2);
    if (!validPath(path)) {
        if (error)
            *error = QStringLiteral("%1 is not a relative path of at most %2 bytes without empty, \".\" or \"..\" "
                                    "components").arg(entry.path).arg(kMaxPathBytes);
        return false;
    }
    if (auto it = m_index.find(path); it != m_index.end())
        return assign(m_nodes[it->second], entry, error);

    Node node;
    if (!assign(node, entry, error))
        return false;
    node.parent = parentOf(path, error);
    if (node.parent == kFailed)
        return false;
    const std::string_view stored = store(path);
    node.name = stored.substr(stored.rfind('/') + 1);
    const quint32 index = quint32(m_nodes.size());
    m_nodes.push_back(std::move(node));
    m_index.emplace(stored, index);
    return true;
}

bool BomWriter::write(const QString &physicalPath, QString *error) const
{
    const QByteArray data = toByteArray();
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("the bill is too large for 32-bit offsets");
        return false;
    }
    // A plain write, not QSaveFile: its flush to disk costs more than the
    // whole bill when a volume generator writes hundreds of them, and a bill
    // cut short by a crash is refused by the reader anyway.
    QFile file(physicalPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size() || !file.flush()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(physicalPath, file.errorString());
        return false;
    }
    return true;
}

} // namespace platform
