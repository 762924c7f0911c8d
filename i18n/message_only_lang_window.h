// TMessageOnlyLangWindow: the TLangWindow of a window that has no
// translatable controls and only shows messages (the pad-link form). It
// names the window and resolves no component, so a switch applies nothing
// and only the window's messages follow the language.
// Threading: UI thread only, like every TLangWindow.
#pragma once

#include "i18n/lang_window.h"

#include <string>

namespace mq::i18n {

class TMessageOnlyLangWindow : public TLangWindow {
 public:
  TMessageOnlyLangWindow(std::string className, std::string name)
      : className_(std::move(className)), name_(std::move(name)) {}

  std::string ClassName() const override { return className_; }
  std::string Name() const override { return name_; }
  bool HasComponent(std::string_view) const override { return false; }
  std::optional<std::string> GetText(std::string_view, std::string_view) override { return std::nullopt; }
  void SetText(std::string_view, std::string_view, const std::string&) override {}
  std::optional<std::vector<std::string>> GetList(std::string_view, std::string_view) override { return std::nullopt; }
  void SetList(std::string_view, std::string_view, const std::vector<std::string>&) override {}

 private:
  std::string className_;
  std::string name_;
};

}  // namespace mq::i18n
