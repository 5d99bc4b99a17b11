// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalog/folder_tree.h"

#include <algorithm>
#include <unordered_set>

#include "platform/byte_io.h"

namespace norvo::catalog {
namespace {

constexpr std::uint32_t kMagic = FourCC("NFT1");
constexpr std::uint32_t kNoParent = 0xFFFFFFFFu;
constexpr std::size_t kMaxNameLength = 4096;
constexpr char kRootName[] = "<root>";
// Smallest stored node: parent, name length, one name byte, item count.
constexpr std::size_t kMinNodeBytes = 4 + 2 + 1 + 4;

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

}  // namespace

FolderTree::FolderTree() { clear(); }

void FolderTree::clear() {
  nodes_.clear();
  nodes_.push_back(Node{kRootName, -1, {}});
  dense_.clear();
  sparse_.clear();
  item_count_ = 0;
}

std::int32_t FolderTree::nodeOf(std::uint32_t item_id) const {
  if (item_id < kDenseLimit) return item_id < dense_.size() ? dense_[item_id] : -1;
  auto it = sparse_.find(item_id);
  return it == sparse_.end() ? -1 : it->second;
}

bool FolderTree::insert(std::uint32_t item_id, std::int32_t node, bool replace) {
  std::int32_t* slot = nullptr;
  if (item_id < kDenseLimit) {
    if (item_id >= dense_.size()) dense_.resize(std::max<std::size_t>(item_id + 1, dense_.size() * 2), -1);
    slot = &dense_[item_id];
  } else {
    slot = &sparse_.try_emplace(item_id, -1).first->second;
  }
  if (*slot >= 0 && !replace) return false;
  if (*slot < 0) ++item_count_;
  *slot = node;
  return true;
}

std::vector<std::pair<std::uint32_t, std::int32_t>> FolderTree::entries() const {
  std::vector<std::pair<std::uint32_t, std::int32_t>> out;
  out.reserve(item_count_);
  for (std::size_t id = 0; id < dense_.size(); ++id) {
    if (dense_[id] >= 0) out.emplace_back(static_cast<std::uint32_t>(id), dense_[id]);
  }
  std::size_t dense_end = out.size();
  for (const auto& entry : sparse_) out.push_back(entry);
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(dense_end), out.end());
  return out;
}

std::int32_t FolderTree::nodeFor(const std::string& folder_path) {
  std::int32_t node = 0;
  for (const auto& part : Components(folder_path)) {
    auto& children = nodes_[static_cast<std::size_t>(node)].children;
    auto it = children.find(part);
    if (it != children.end()) {
      node = it->second;
      continue;
    }
    auto index = static_cast<std::int32_t>(nodes_.size());
    nodes_[static_cast<std::size_t>(node)].children.emplace(part, index);
    nodes_.push_back(Node{part, node, {}});
    node = index;
  }
  return node;
}

std::string FolderTree::pathOf(std::int32_t node) const {
  std::vector<const std::string*> names;
  for (std::int32_t n = node; n > 0; n = nodes_[static_cast<std::size_t>(n)].parent) {
    names.push_back(&nodes_[static_cast<std::size_t>(n)].name);
  }
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + **it;
  return path.empty() ? "/" : path;
}

void FolderTree::assign(std::uint32_t item_id, const std::string& folder_path) {
  insert(item_id, nodeFor(folder_path), true);
}

void FolderTree::remove(std::uint32_t item_id) {
  if (item_id < kDenseLimit) {
    if (item_id < dense_.size() && dense_[item_id] >= 0) {
      dense_[item_id] = -1;
      --item_count_;
    }
  } else if (sparse_.erase(item_id) != 0) {
    --item_count_;
  }
}

std::optional<std::string> FolderTree::folderOf(std::uint32_t item_id) const {
  std::int32_t node = nodeOf(item_id);
  if (node < 0) return std::nullopt;
  return pathOf(node);
}

std::size_t FolderTree::folderCount() const {
  std::unordered_set<std::int32_t> used;
  for (const auto& entry : entries()) used.insert(entry.second);
  return used.size();
}

std::vector<std::uint8_t> FolderTree::serialize() const {
  // Items per node, and which nodes hold items at or below them.
  std::vector<std::vector<std::uint32_t>> items(nodes_.size());
  std::vector<bool> keep(nodes_.size(), false);
  for (const auto& [id, node] : entries()) {
    items[static_cast<std::size_t>(node)].push_back(id);
    for (std::int32_t n = node; n >= 0 && !keep[static_cast<std::size_t>(n)];
         n = nodes_[static_cast<std::size_t>(n)].parent) {
      keep[static_cast<std::size_t>(n)] = true;
    }
  }
  keep[0] = true;

  // Pre-order walk over kept nodes, children in name order.
  std::vector<std::pair<std::int32_t, std::uint32_t>> order;  // node, new parent index
  std::vector<std::pair<std::int32_t, std::uint32_t>> stack{{0, kNoParent}};
  while (!stack.empty()) {
    auto [node, parent] = stack.back();
    stack.pop_back();
    auto index = static_cast<std::uint32_t>(order.size());
    order.emplace_back(node, parent);
    const auto& children = nodes_[static_cast<std::size_t>(node)].children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (keep[static_cast<std::size_t>(it->second)]) stack.emplace_back(it->second, index);
    }
  }

  ByteWriter w(16 + order.size() * 32 + item_count_ * 4);
  w.u32be(kMagic);
  w.u32be(static_cast<std::uint32_t>(order.size()));
  for (auto [node, parent] : order) {
    const auto& n = nodes_[static_cast<std::size_t>(node)];
    w.u32be(parent);
    w.u16be(static_cast<std::uint16_t>(n.name.size()));
    w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(n.name.data()), n.name.size()));
    const auto& ids = items[static_cast<std::size_t>(node)];  // ascending, as entries() are
    w.u32be(static_cast<std::uint32_t>(ids.size()));
    for (auto id : ids) w.u32be(id);
  }
  return w.take();
}

bool FolderTree::Parse(std::span<const std::uint8_t> bytes, FolderTree& out) {
  ByteReader r(bytes);
  if (r.u32be() != kMagic) return false;
  std::uint32_t count = r.u32be();
  if (!r.ok() || count == 0 || count > r.remaining() / kMinNodeBytes + 1) return false;

  FolderTree tree;
  tree.nodes_.clear();
  tree.nodes_.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t parent = r.u32be();
    std::uint16_t length = r.u16be();
    auto name_bytes = r.bytes(length);
    if (!r.ok() || length == 0 || length > kMaxNameLength) return false;
    std::string name(reinterpret_cast<const char*>(name_bytes.data()), name_bytes.size());
    if (i == 0) {
      if (parent != kNoParent || name != kRootName) return false;
      tree.nodes_.push_back(Node{name, -1, {}});
    } else {
      if (parent >= i || name.find('/') != std::string::npos) return false;
      auto& siblings = tree.nodes_[parent].children;
      if (!siblings.emplace(name, static_cast<std::int32_t>(i)).second) return false;
      tree.nodes_.push_back(Node{name, static_cast<std::int32_t>(parent), {}});
    }
    std::uint32_t items = r.u32be();
    if (!r.ok() || items > r.remaining() / 4) return false;
    for (std::uint32_t k = 0; k < items; ++k) {
      std::uint32_t id = r.u32be();
      if (id == 0 || !tree.insert(id, static_cast<std::int32_t>(i), false)) return false;
    }
  }
  if (!r.ok()) return false;
  out = std::move(tree);
  return true;
}

}  // namespace norvo::catalog
