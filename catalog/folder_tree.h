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
#include <vector>

namespace norvo::catalog {

class FolderTree {
 public:
  FolderTree();

  void clear();
  // Enters the item in the folder with this absolute UTF-8 path.
  void assign(std::uint32_t item_id, const std::string& folder_path);
  void remove(std::uint32_t item_id);
  bool contains(std::uint32_t item_id) const { return find(item_id) != items_.end(); }
  // The absolute UTF-8 path of the item's folder.
  std::optional<std::string> folderOf(std::uint32_t item_id) const;
  std::size_t itemCount() const { return items_.size(); }
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
  using ItemFolder = std::pair<std::uint32_t, std::int32_t>;  // ItemId, node

  std::int32_t nodeFor(const std::string& folder_path);
  std::string pathOf(std::int32_t node) const;
  std::vector<ItemFolder>::const_iterator find(std::uint32_t item_id) const;

  std::vector<Node> nodes_;
  // Sorted by ItemId: new items have the highest ids and append at the end,
  // and a whole tree loads with one sort, far cheaper than a hash table.
  std::vector<ItemFolder> items_;
};

}  // namespace norvo::catalog
