#include "crawler/extract/pst_test_writer.h"

#include <algorithm>
#include <utility>

#include "platform/text.h"

namespace lun {
namespace {

constexpr size_t kPageSize = 512;
constexpr size_t kPageData = 496;         // before the page trailer
constexpr size_t kBtEntriesSize = 488;    // the entries of a B-tree page
constexpr size_t kFirstBlockAt = 0x4400;  // where the first allocation map would be
constexpr size_t kMaxBlockData = 8176;    // an 8 KiB block less its trailer
constexpr size_t kMaxAllocation = 3580;   // the largest heap allocation
constexpr uint32_t kNidMessageStore = 0x21;
constexpr uint32_t kNidRootFolder = 0x122;
constexpr uint32_t kNidAttachmentTable = 0x671;
constexpr uint32_t kFirstFolderIndex = 0x401;
constexpr uint32_t kFirstMessageIndex = 0x10001;

enum NidType : uint32_t {
  kNormalFolder = 0x02,
  kNormalMessage = 0x04,
  kAttachment = 0x05,
  kHierarchyTable = 0x0D,
  kContentsTable = 0x0E,
  kAssociatedContentsTable = 0x0F,
};

enum PropertyType : uint16_t {
  kInteger32 = 0x0003,
  kBoolean = 0x000B,
  kString = 0x001F,
  kTime = 0x0040,
  kBinary = 0x0102,
};

uint32_t Nid(uint32_t index, uint32_t type) { return index << 5 | type; }
uint32_t SameIndex(uint32_t nid, uint32_t type) { return (nid & ~0x1Fu) | type; }

void Put(std::string* s, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) (*s)[at + i] = static_cast<char>(value >> (8 * i));
}
void Append(std::string* s, uint64_t value, size_t bytes) {
  s->append(bytes, '\0');
  Put(s, s->size() - bytes, value, bytes);
}
std::string Bytes(uint64_t value, size_t bytes) {
  std::string s;
  Append(&s, value, bytes);
  return s;
}

// The store's CRC-32: the reflected polynomial of zlib's, started at zero
// and not inverted at the end.
uint32_t Crc(std::string_view data) {
  uint32_t crc = 0;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

uint16_t Signature(uint64_t ib, uint64_t bid) {
  ib ^= bid;
  return static_cast<uint16_t>(static_cast<uint16_t>(ib >> 16) ^ static_cast<uint16_t>(ib));
}

std::string Utf16Le(const std::string& utf8) {
  std::string out;
  for (char16_t c : ToWide(utf8)) Append(&out, c, 2);
  return out;
}

uint64_t FileTime(int64_t unix_time) {
  return static_cast<uint64_t>(unix_time + 11644473600) * 10000000;
}

// A heap-on-node: allocations numbered from 1, each named by its HID.
class Heap {
 public:
  uint32_t Add(std::string bytes) {
    if (bytes.size() > kMaxAllocation) fits_ = false;
    allocations_.push_back(std::move(bytes));
    return static_cast<uint32_t>(allocations_.size()) << 5;
  }
  void Set(uint32_t hid, std::string bytes) { allocations_[(hid >> 5) - 1] = std::move(bytes); }

  // The node's data: the heap header, the allocations and the page map.
  std::string Build(uint8_t client_signature, uint32_t user_root, bool* fits) const {
    std::string out(12, '\0');
    out[2] = static_cast<char>(0xEC);
    out[3] = static_cast<char>(client_signature);
    Put(&out, 4, user_root, 4);
    std::vector<size_t> offsets;
    for (const std::string& a : allocations_) {
      offsets.push_back(out.size());
      out += a;
    }
    offsets.push_back(out.size());
    if (out.size() % 2 != 0) out += '\0';
    Put(&out, 0, out.size(), 2);
    Append(&out, allocations_.size(), 2);
    Append(&out, 0, 2);
    for (size_t at : offsets) Append(&out, at, 2);
    if (!fits_ || out.size() > kMaxBlockData) *fits = false;
    return out;
  }

 private:
  std::vector<std::string> allocations_;
  bool fits_ = true;
};

struct Property {
  uint16_t id;
  uint16_t type;
  std::string value;  // little-endian bytes; 4 for the types kept in the record
};

Property Text(uint16_t id, const std::string& utf8) { return {id, kString, Utf16Le(utf8)}; }
Property Int32(uint16_t id, uint32_t value) { return {id, kInteger32, Bytes(value, 4)}; }
Property Time(uint16_t id, int64_t unix_time) { return {id, kTime, Bytes(FileTime(unix_time), 8)}; }

// A property context: a BTree-on-heap of (property id, type, value or HID).
std::string PropertyContext(std::vector<Property> properties, bool* fits) {
  std::sort(properties.begin(), properties.end(),
            [](const Property& a, const Property& b) { return a.id < b.id; });
  Heap heap;
  const uint32_t header = heap.Add({});
  std::string records;
  for (const Property& p : properties) {
    Append(&records, p.id, 2);
    Append(&records, p.type, 2);
    const bool in_record = p.type == kInteger32 || p.type == kBoolean;
    if (in_record) {
      records += p.value;
    } else {
      Append(&records, p.value.empty() ? 0 : heap.Add(p.value), 4);
    }
  }
  const uint32_t leaf = heap.Add(records);
  heap.Set(header, std::string("\xB5\x02\x06\x00", 4) + Bytes(leaf, 4));
  return heap.Build(0xBC, header, fits);
}

// A table context of the two columns every table has: the row id (the
// node identifier of what the row stands for) and the row version.
std::string TableContext(const std::vector<uint32_t>& row_ids, bool* fits) {
  Heap heap;
  const uint32_t info = heap.Add({});
  const uint32_t index_header = heap.Add({});
  std::string rows;
  std::vector<std::pair<uint32_t, uint32_t>> index;
  for (uint32_t id : row_ids) {
    index.emplace_back(id, static_cast<uint32_t>(index.size()));
    Append(&rows, id, 4);
    Append(&rows, 0, 4);
    rows += '\xC0';  // both cells present
  }
  std::sort(index.begin(), index.end());
  std::string index_records;
  for (const auto& [id, row] : index) {
    Append(&index_records, id, 4);
    Append(&index_records, row, 4);
  }
  const uint32_t index_leaf = index.empty() ? 0 : heap.Add(index_records);
  const uint32_t rows_hid = rows.empty() ? 0 : heap.Add(rows);
  heap.Set(index_header, std::string("\xB5\x04\x04\x00", 4) + Bytes(index_leaf, 4));
  std::string tcinfo("\x7C\x02", 2);
  for (uint64_t end : {8, 8, 8, 9}) Append(&tcinfo, end, 2);  // 4/8-, 2-, 1-byte cells, bitmap
  Append(&tcinfo, index_header, 4);
  Append(&tcinfo, rows_hid, 4);
  Append(&tcinfo, 0, 4);
  Append(&tcinfo, 0x67F20003, 4);  // row id: offset 0, 4 bytes, bit 0
  Append(&tcinfo, 0x00040000, 4);
  Append(&tcinfo, 0x67F30003, 4);  // row version: offset 4, 4 bytes, bit 1
  Append(&tcinfo, 0x01040004, 4);
  heap.Set(info, tcinfo);
  return heap.Build(0x7C, info, fits);
}

class PstBuilder {
 public:
  uint64_t AddBlock(std::string data, bool internal) {
    if (data.size() > kMaxBlockData) fits_ = false;
    const uint64_t bid = next_bid_ | (internal ? 2 : 0);
    next_bid_ += 4;
    blocks_.push_back({bid, std::move(data), 0});
    return bid;
  }
  void AddNode(uint32_t nid, std::string data, uint32_t parent, uint64_t subnodes = 0) {
    nodes_.push_back({nid, AddBlock(std::move(data), false), subnodes, parent});
  }
  // A subnode list (one leaf block) of `subnodes` (identifier, data).
  uint64_t AddSubnodes(std::vector<std::pair<uint32_t, std::string>> subnodes) {
    std::sort(subnodes.begin(), subnodes.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string list("\x02\x00", 2);
    Append(&list, subnodes.size(), 2);
    Append(&list, 0, 4);
    for (auto& [nid, data] : subnodes) {
      Append(&list, nid, 8);
      Append(&list, AddBlock(std::move(data), false), 8);
      Append(&list, 0, 8);
    }
    return AddBlock(list, true);
  }
  bool* fits() { return &fits_; }

  std::string Build() {
    std::string file(kFirstBlockAt, '\0');
    for (Block& b : blocks_) {
      b.ib = file.size();
      const size_t total = (b.data.size() + 16 + 63) / 64 * 64;
      file += b.data;
      file.append(total - b.data.size() - 16, '\0');
      Append(&file, b.data.size(), 2);
      Append(&file, Signature(b.ib, b.bid), 2);
      Append(&file, Crc(b.data), 4);
      Append(&file, b.bid, 8);
    }
    file.resize((file.size() + kPageSize - 1) / kPageSize * kPageSize, '\0');

    std::sort(nodes_.begin(), nodes_.end(),
              [](const Node& a, const Node& b) { return a.nid < b.nid; });
    std::vector<Entry> node_entries;
    for (const Node& n : nodes_) {
      std::string e;
      Append(&e, n.nid, 8);
      Append(&e, n.data_bid, 8);
      Append(&e, n.sub_bid, 8);
      Append(&e, n.parent, 4);
      Append(&e, 0, 4);
      node_entries.push_back({n.nid, e});
    }
    std::sort(blocks_.begin(), blocks_.end(),
              [](const Block& a, const Block& b) { return a.bid < b.bid; });
    std::vector<Entry> block_entries;
    for (const Block& b : blocks_) {
      std::string e;
      Append(&e, b.bid, 8);
      Append(&e, b.ib, 8);
      Append(&e, b.data.size(), 2);
      Append(&e, 2, 2);  // references: the node and the tree
      Append(&e, 0, 4);
      block_entries.push_back({b.bid, e});
    }
    const PageRef nbt = WriteTree(&file, 0x81, std::move(node_entries));
    const PageRef bbt = WriteTree(&file, 0x80, std::move(block_entries));
    WriteHeader(&file, nbt, bbt);
    return file;
  }

 private:
  struct Node {
    uint32_t nid;
    uint64_t data_bid;
    uint64_t sub_bid;
    uint32_t parent;
  };
  struct Block {
    uint64_t bid;
    std::string data;
    uint64_t ib;
  };
  struct Entry {
    uint64_t key;
    std::string bytes;
  };
  struct PageRef {
    uint64_t key;
    uint64_t bid;
    uint64_t ib;
  };

  // Writes `entries` as a B-tree of pages of type `ptype` (leaves first,
  // then each level of intermediate pages) and returns its root.
  PageRef WriteTree(std::string* file, uint8_t ptype, std::vector<Entry> entries) {
    uint8_t level = 0;
    while (true) {
      const size_t entry_size = entries.empty() ? 24 : entries[0].bytes.size();
      const size_t per_page = kBtEntriesSize / entry_size;
      std::vector<PageRef> pages;
      for (size_t first = 0; first < entries.size() || pages.empty(); first += per_page) {
        const size_t end = std::min(entries.size(), first + per_page);
        std::string page(kPageSize, '\0');
        size_t at = 0;
        for (size_t i = first; i < end; ++i, at += entry_size) {
          page.replace(at, entry_size, entries[i].bytes);
        }
        page[488] = static_cast<char>(end - first);
        page[489] = static_cast<char>(per_page);
        page[490] = static_cast<char>(entry_size);
        page[491] = static_cast<char>(level);
        const PageRef ref{first < entries.size() ? entries[first].key : 0, next_page_bid_++,
                          file->size()};
        page[kPageData] = page[kPageData + 1] = static_cast<char>(ptype);
        Put(&page, kPageData + 2, Signature(ref.ib, ref.bid), 2);
        Put(&page, kPageData + 4, Crc(std::string_view(page).substr(0, kPageData)), 4);
        Put(&page, kPageData + 8, ref.bid, 8);
        *file += page;
        pages.push_back(ref);
      }
      if (pages.size() == 1) return pages[0];
      entries.clear();
      for (const PageRef& p : pages) {
        std::string e;
        Append(&e, p.key, 8);
        Append(&e, p.bid, 8);
        Append(&e, p.ib, 8);
        entries.push_back({p.key, e});
      }
      ++level;
    }
  }

  void WriteHeader(std::string* file, const PageRef& nbt, const PageRef& bbt) {
    std::string& f = *file;
    f.replace(0, 4, "!BDN");
    Put(&f, 8, 0x4D53, 2);  // "SM"
    Put(&f, 10, 23, 2);     // Unicode
    Put(&f, 12, 19, 2);
    f[14] = f[15] = '\x01';
    Put(&f, 32, next_page_bid_, 8);
    Put(&f, 40, 1, 4);  // dwUnique
    for (size_t i = 0; i < 32; ++i) Put(&f, 44 + 4 * i, 0x10000 + 0x400, 4);
    Put(&f, 184, f.size(), 8);       // ibFileEof
    Put(&f, 192, kFirstBlockAt, 8);  // ibAMapLast
    Put(&f, 216, nbt.bid, 8);
    Put(&f, 224, nbt.ib, 8);
    Put(&f, 232, bbt.bid, 8);
    Put(&f, 240, bbt.ib, 8);
    f[248] = '\0';  // no allocation maps are kept
    std::fill(f.begin() + 256, f.begin() + 512, '\xFF');
    f[512] = '\x80';  // sentinel
    f[513] = '\0';    // not encoded
    Put(&f, 516, next_bid_, 8);
    Put(&f, 4, Crc(std::string_view(f).substr(8, 471)), 4);
    Put(&f, 524, Crc(std::string_view(f).substr(8, 516)), 4);
  }

  std::vector<Node> nodes_;
  std::vector<Block> blocks_;
  uint64_t next_bid_ = 4;
  uint64_t next_page_bid_ = 1;
  bool fits_ = true;
};

class StoreWriter {
 public:
  std::string Write(const std::vector<TestPstFolder>& folders) {
    for (const TestPstFolder& f : folders) ReserveIds(f);
    builder_.AddNode(kNidMessageStore,
                     PropertyContext({Text(0x3001, "Personal Folders")}, builder_.fits()), 0);
    AddFolder(kNidRootFolder, kNidRootFolder, "", {}, folders);
    std::string file = builder_.Build();
    return *builder_.fits() ? file : std::string();
  }

 private:
  // Explicit message identifiers come first; the others follow them.
  void ReserveIds(const TestPstFolder& folder) {
    for (const TestPstMessage& m : folder.messages) {
      next_message_ = std::max(next_message_, m.id + 1);
    }
    for (const TestPstFolder& f : folder.folders) ReserveIds(f);
  }

  void AddFolder(uint32_t nid, uint32_t parent, const std::string& name,
                 const std::vector<TestPstMessage>& messages,
                 const std::vector<TestPstFolder>& folders) {
    std::vector<uint32_t> folder_nids, message_nids;
    for (size_t i = 0; i < folders.size(); ++i) {
      folder_nids.push_back(Nid(next_folder_++, kNormalFolder));
    }
    for (const TestPstMessage& m : messages) {
      message_nids.push_back(Nid(m.id != 0 ? m.id : next_message_++, kNormalMessage));
    }
    bool* fits = builder_.fits();
    builder_.AddNode(nid,
                     PropertyContext({Text(0x3001, name),
                                      Int32(0x3602, static_cast<uint32_t>(messages.size())),
                                      Int32(0x3603, 0),
                                      {0x360A, kBoolean, Bytes(folders.empty() ? 0 : 1, 4)}},
                                     fits),
                     parent);
    builder_.AddNode(SameIndex(nid, kHierarchyTable), TableContext(folder_nids, fits), 0);
    builder_.AddNode(SameIndex(nid, kContentsTable), TableContext(message_nids, fits), 0);
    builder_.AddNode(SameIndex(nid, kAssociatedContentsTable), TableContext({}, fits), 0);
    for (size_t i = 0; i < messages.size(); ++i) AddMessage(message_nids[i], nid, messages[i]);
    for (size_t i = 0; i < folders.size(); ++i) {
      AddFolder(folder_nids[i], nid, folders[i].name, folders[i].messages, folders[i].folders);
    }
  }

  void AddMessage(uint32_t nid, uint32_t folder, const TestPstMessage& m) {
    bool* fits = builder_.fits();
    std::vector<Property> properties{
        Text(0x001A, "IPM.Note"),
        Text(0x0037, m.subject),
        Time(0x0039, m.unix_time),
        Text(0x0C1A, m.sender),
        Text(0x0E04, m.to),
        Time(0x0E06, m.unix_time),
        Int32(0x0E07, 1),  // read
        Int32(0x0E08, static_cast<uint32_t>(m.subject.size() + m.body.size() + m.html.size())),
        Time(0x3007, m.unix_time),
    };
    if (!m.body.empty()) properties.push_back(Text(0x1000, m.body));
    if (!m.html.empty()) properties.push_back({0x1013, kBinary, m.html});
    uint64_t subnodes = 0;
    if (!m.attachments.empty()) {
      std::vector<std::pair<uint32_t, std::string>> nodes;
      std::vector<uint32_t> rows;
      for (size_t i = 0; i < m.attachments.size(); ++i) {
        const TestPstAttachment& a = m.attachments[i];
        const uint32_t id = Nid(kFirstFolderIndex + static_cast<uint32_t>(i), kAttachment);
        rows.push_back(id);
        nodes.emplace_back(id,
                           PropertyContext({Int32(0x0E20, static_cast<uint32_t>(a.bytes.size())),
                                            {0x3701, kBinary, a.bytes},
                                            Text(0x3704, a.name),
                                            Int32(0x3705, 1),  // attached by value
                                            Text(0x3707, a.name),
                                            Int32(0x370B, 0xFFFFFFFF)},
                                           fits));
      }
      nodes.emplace_back(kNidAttachmentTable, TableContext(rows, fits));
      subnodes = builder_.AddSubnodes(std::move(nodes));
      properties.push_back({0x0E1B, kBoolean, Bytes(1, 4)});  // has attachments
    }
    builder_.AddNode(nid, PropertyContext(std::move(properties), fits), folder, subnodes);
  }

  PstBuilder builder_;
  uint32_t next_folder_ = kFirstFolderIndex;
  uint32_t next_message_ = kFirstMessageIndex;
};

}  // namespace

std::string MakeTestPst(const std::vector<TestPstFolder>& folders) {
  return StoreWriter().Write(folders);
}

}  // namespace lun
