// The hive file behind the registry: an in-memory tree, its text form and the
// locked, atomic update of the file.  Used by registry.cpp; public for tests.
//
// Text form, one item per line:
//   VNTR-REGISTRY-HIVE 1
//   key SOFTWARE\Vantre\QBL SDK\VT48
//   value Description=Veltrane(TM)48 Vocoder
//   end <number of keys> <number of values>
// Bytes outside printable ASCII, '%' and (in value names) '=' are written as
// %XX.  The closing line catches a file cut short.
#pragma once

#include <vntr/platform/registry.hpp>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vntr::platform::hive {

struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const;
};
bool EqualNoCase(std::string_view a, std::string_view b);

struct Node {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values; // in the order first set
    std::map<std::string, std::unique_ptr<Node>, CaseLess> children;

    Node *Child(std::string_view childName) const;
    std::pair<std::string, std::string> *Value(std::string_view valueName);
};

// Splits "A\B\C" into its names; false for an empty name inside the path.
bool SplitPath(std::string_view path, std::vector<std::string> &names);
// Follows a path from `root`; nullptr when a key is missing.
Node *Find(Node &root, std::string_view path);

std::string Serialize(const Node &root);
// Parses a hive text; on failure `error` says which line and why.
bool Parse(std::string_view text, Node &root, std::string &error);

// Reads a hive file.  A missing file is an empty hive.  Damaged or IoError
// with `error` filled otherwise.
RegStatus Load(const std::string &file, Node &root, std::string &error);

// Locked read-modify-write.  `change` edits the tree and returns Ok when the
// file is to be written, anything else to leave it as it was (that result is
// returned).
RegStatus Update(const std::string &file, const std::function<RegStatus(Node &)> &change, std::string &error);

} // namespace vntr::platform::hive
