// TStandardDialogCaptions: the fixed set of 86 standard dialog captions
// (message-box titles and buttons, file, colour, font, print and find dialog
// controls) with their English texts. A component that keeps its dialog
// captions complete fills in every id its table lacks, English only, so a
// dialog control can always be looked up by its plain (ampersand-free) text.
// Threading: immutable data; callable from any thread.
#pragma once

#include <span>
#include <string_view>

namespace mq::i18n {

class TStandardDialogCaptions {
 public:
  struct Entry {
    std::string_view id;       // caption without accelerator ampersand
    std::string_view english;  // English caption, usually with its ampersand
  };
  static constexpr std::size_t kCount = 86;

  static std::span<const Entry> All();
};

}  // namespace mq::i18n
