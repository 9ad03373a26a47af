#include "tools/kxembed/ResourceSection.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "tools/kxembed/EmbedError.h"
#include "tools/kxembed/LittleEndian.h"

namespace kxembed {

namespace {

using debuginfo::PeResourceName;

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kTableHeaderSize = 16, kEntrySize = 8, kDataEntrySize = 16;

bool SameKey(const PeResourceName &a, const PeResourceName &b) {
  return !ResourceNameLess(a, b) && !ResourceNameLess(b, a);
}

// One directory table. An entry's Child is the index of its table one level down or, in a
// language table, the leaf's place in the sorted order (which is also its data entry's).
struct Table {
  struct Entry {
    const PeResourceName *Name = nullptr;
    size_t Child = 0;
    uint64_t NameOffset = 0;
  };
  std::vector<Entry> Entries;
  uint64_t Offset = 0;
};

struct Levels {
  std::vector<Table> Root = std::vector<Table>(1), Types, Names;
};

Levels GroupLeaves(const std::vector<ResourceLeaf> &leaves, const std::vector<size_t> &order) {
  Levels l;
  for (size_t k = 0; k < order.size(); ++k) {
    const ResourceLeaf &leaf = leaves[order[k]];
    std::vector<Table::Entry> &types = l.Root[0].Entries;
    if (types.empty() || !SameKey(*types.back().Name, leaf.Type)) {
      types.push_back({&leaf.Type, l.Types.size()});
      l.Types.emplace_back();
    }
    std::vector<Table::Entry> &names = l.Types.back().Entries;
    if (names.empty() || !SameKey(*names.back().Name, leaf.Name)) {
      names.push_back({&leaf.Name, l.Names.size()});
      l.Names.emplace_back();
    }
    l.Names.back().Entries.push_back({&leaf.Language, k});
  }
  return l;
}

void WriteTables(std::vector<uint8_t> &out, const std::vector<Table> &tables,
                 const std::function<uint32_t(size_t)> &target) {
  for (const Table &t : tables) {
    const size_t named = size_t(std::count_if(t.Entries.begin(), t.Entries.end(),
                                              [](const Table::Entry &e) { return e.Name->IsString; }));
    if (named > UINT16_MAX || t.Entries.size() - named > UINT16_MAX)
      throw EmbedError("a resource directory table would have more than 65535 entries of a kind");
    Put16(out, t.Offset + 12, uint16_t(named));
    Put16(out, t.Offset + 14, uint16_t(t.Entries.size() - named));
    uint64_t at = t.Offset + kTableHeaderSize;
    for (const Table::Entry &e : t.Entries) {
      Put32(out, at, e.Name->IsString ? kHighBit | uint32_t(e.NameOffset) : e.Name->Id);
      Put32(out, at + 4, target(e.Child));
      at += kEntrySize;
    }
  }
}

} // namespace

std::vector<uint8_t> BuildResourceSection(const std::vector<ResourceLeaf> &leaves, uint32_t sectionRva) {
  std::vector<size_t> order(leaves.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return ResourceLeafLess(leaves[a], leaves[b]); });
  Levels levels = GroupLeaves(leaves, order);
  std::vector<Table> *const all[] = {&levels.Root, &levels.Types, &levels.Names};

  uint64_t at = 0;
  for (std::vector<Table> *tables : all) {
    for (Table &t : *tables) {
      t.Offset = at;
      at += kTableHeaderSize + kEntrySize * t.Entries.size();
    }
  }
  const uint64_t dataEntries = at;
  at += kDataEntrySize * leaves.size();
  for (std::vector<Table> *tables : all) {
    for (Table &t : *tables) {
      for (Table::Entry &e : t.Entries) {
        if (e.Name->IsString) {
          e.NameOffset = at;
          at += 2 + 2 * uint64_t(e.Name->String.size());
        }
      }
    }
  }
  std::vector<uint64_t> dataAt(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    if (const auto &data = leaves[order[k]].NewData) {
      at = AlignUp(at, kResourceDataAlignment);
      dataAt[k] = at;
      at += data->size();
    }
  }
  at = AlignUp(at, kResourceDataAlignment);
  if (uint64_t(sectionRva) + at > UINT32_MAX)
    throw EmbedError("the resources do not fit the image's 4 GiB address space");

  std::vector<uint8_t> out(at, 0);
  WriteTables(out, levels.Root, [&](size_t child) { return kHighBit | uint32_t(levels.Types[child].Offset); });
  WriteTables(out, levels.Types, [&](size_t child) { return kHighBit | uint32_t(levels.Names[child].Offset); });
  WriteTables(out, levels.Names, [&](size_t k) { return uint32_t(dataEntries + kDataEntrySize * k); });
  for (const std::vector<Table> *tables : all) {
    for (const Table &t : *tables) {
      for (const Table::Entry &e : t.Entries) {
        if (!e.Name->IsString)
          continue;
        Put16(out, e.NameOffset, uint16_t(e.Name->String.size()));
        for (size_t i = 0; i < e.Name->String.size(); ++i)
          Put16(out, e.NameOffset + 2 + 2 * i, e.Name->String[i]);
      }
    }
  }
  for (size_t k = 0; k < order.size(); ++k) {
    const ResourceLeaf &leaf = leaves[order[k]];
    const uint64_t entry = dataEntries + kDataEntrySize * k;
    if (leaf.NewData) {
      std::copy(leaf.NewData->begin(), leaf.NewData->end(), out.begin() + std::ptrdiff_t(dataAt[k]));
      Put32(out, entry, sectionRva + uint32_t(dataAt[k]));
      Put32(out, entry + 4, uint32_t(leaf.NewData->size()));
    } else {
      Put32(out, entry, leaf.DataRva);
      Put32(out, entry + 4, leaf.DataSize);
    }
    Put32(out, entry + 8, leaf.CodePage);
  }
  return out;
}

} // namespace kxembed
