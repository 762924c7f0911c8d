// TsiStringsCollection: the string index of one translation component, built
// from its Strings section. Items are kept sorted by id with ASCII letters
// folded, and found by bisection, so a message lookup never scans the table.
// When two entries share an id the first one in the section wins.
// Threading: UI thread only (owned by its component).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TsiStringsCollection {
 public:
  struct Item {
    std::string id;
    std::vector<std::string> texts;  // texts[0] is language 1
  };

  // Rebuilds the index from entries in the table's line format.
  void Build(const std::vector<std::string>& entries, std::string_view delim, int numOfLanguages);
  void Clear() { items_.clear(); }

  const Item* Find(std::string_view id) const;
  // Text of language `language` (1-based) for `id`; empty when unknown or empty.
  std::string Text(std::string_view id, int language) const;
  std::size_t Count() const { return items_.size(); }
  const std::vector<Item>& Items() const { return items_; }

  // Negative, zero or positive like strcmp, with 'A'..'Z' folded to 'a'..'z'.
  static int CompareText(std::string_view a, std::string_view b);
  static bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

 private:
  std::vector<Item> items_;
};

}  // namespace mq::i18n
