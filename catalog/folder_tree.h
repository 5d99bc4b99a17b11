// SPDX-License-Identifier: GPL-3.0-or-later
// The folder tree of a catalog: the folders that hold the items' files, as a
// tree of named folder nodes under a root node "<root>", recording for each
// ItemId the folder of its file. Stored as the "FSM!" chunk; the byte layout
// is in folder_tree_format.md.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace norvo::catalog {

class FolderTree {
 public:
  FolderTree();

  void clear();
  // Enters the item in the folder with this absolute UTF-8 path.
  void assign(std::uint32_t item_id, const std::string& folder_path);
  void remove(std::uint32_t item_id);
  bool contains(std::uint32_t item_id) const { return nodeOf(item_id) >= 0; }
  // The absolute UTF-8 path of the item's folder.
  std::optional<std::string> folderOf(std::uint32_t item_id) const;
  std::size_t itemCount() const { return item_count_; }
  // Folders that hold at least one item.
  std::size_t folderCount() const;

  // Folders without items are left out; items are listed in ItemId order, so
  // equal trees serialize to equal bytes.
  std::vector<std::uint8_t> serialize() const;
  // False (and `out` untouched) for bytes that are not a well-formed tree.
  static bool Parse(std::span<const std::uint8_t> bytes, FolderTree& out);

 private:
  struct Node {
    std::string name;
    std::int32_t parent = -1;
    std::map<std::string, std::int32_t> children;
  };
  std::int32_t nodeFor(const std::string& folder_path);
  std::string pathOf(std::int32_t node) const;
  std::int32_t nodeOf(std::uint32_t item_id) const;
  // Enters an item; false when it was entered already.
  bool insert(std::uint32_t item_id, std::int32_t node, bool replace);
  // Every (ItemId, node) pair in ascending ItemId order.
  std::vector<std::pair<std::uint32_t, std::int32_t>> entries() const;

  std::vector<Node> nodes_;
  // The folder node of each item. ItemIds are small and dense (a counter from
  // 1), so a table indexed by id serves them; ids beyond kDenseLimit, which
  // only odd catalogs have, go to the map.
  static constexpr std::uint32_t kDenseLimit = 1u << 20;
  std::vector<std::int32_t> dense_;  // -1: not entered
  std::unordered_map<std::uint32_t, std::int32_t> sparse_;
  std::size_t item_count_ = 0;
};

}  // namespace norvo::catalog
