#include "i18n/si_strings_collection.h"

#include "i18n/lang_entry.h"
#include "util/ascii_text.h"

#include <algorithm>

namespace mq::i18n {

int TsiStringsCollection::CompareText(std::string_view a, std::string_view b) { return AsciiText::CompareNoCase(a, b); }

void TsiStringsCollection::Build(const std::vector<std::string>& entries, std::string_view delim, int numOfLanguages) {
  items_.clear();
  items_.reserve(entries.size());
  for (const auto& e : entries) {
    Item item;
    item.id = std::string(TLangEntry::Name(e, delim));
    for (int k = 1; k <= numOfLanguages; ++k) item.texts.emplace_back(TLangEntry::Field(e, delim, k));
    items_.push_back(std::move(item));
  }
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& x, const Item& y) { return CompareText(x.id, y.id) < 0; });
}

const TsiStringsCollection::Item* TsiStringsCollection::Find(std::string_view id) const {
  std::size_t lo = 0;
  std::size_t hi = items_.size();
  while (lo < hi) {  // first item not less than id
    const std::size_t mid = lo + (hi - lo) / 2;
    if (CompareText(items_[mid].id, id) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < items_.size() && CompareText(items_[lo].id, id) == 0) return &items_[lo];
  return nullptr;
}

std::string TsiStringsCollection::Text(std::string_view id, int language) const {
  const Item* item = Find(id);
  if (item == nullptr || language < 1 || static_cast<std::size_t>(language) > item->texts.size()) return {};
  return item->texts[static_cast<std::size_t>(language) - 1];
}

}  // namespace mq::i18n
