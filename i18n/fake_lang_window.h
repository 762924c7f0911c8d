// TFakeLangWindow: a window for tests and fuzz targets. It holds named
// components with text and list properties, finds names without regard to
// case, and records every write so tests can check what a switch touched.
// With AcceptAll every component and property exists (for fuzzing).
// Threading: single-threaded test use only.
#pragma once

#include "i18n/lang_window.h"
#include "i18n/si_strings_collection.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mq::i18n {

class TFakeLangWindow : public TLangWindow {
 public:
  struct Component {
    std::string className;
    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<std::string>> lists;
  };

  TFakeLangWindow(std::string className, std::string name) : className_(std::move(className)), name_(std::move(name)) {}

  bool AcceptAll = false;
  std::vector<std::string> Writes;  // "component.property=value" ("" for the window)
  std::function<void()> OnWrite;    // called after every write

  Component& Add(const std::string& name, const std::string& className = "TControl") {
    auto& c = components_[name];
    c.className = className;
    return c;
  }
  Component& Self() { return self_; }
  std::string Text(const std::string& component, const std::string& property = "Caption") {
    Component* c = Find(component);
    if (c == nullptr || c->texts.count(property) == 0) return "<none>";
    return c->texts[property];
  }
  std::vector<std::string> List(const std::string& component, const std::string& property = "Items") {
    Component* c = Find(component);
    return c == nullptr ? std::vector<std::string>{} : c->lists[property];
  }

  std::string ClassName() const override { return className_; }
  std::string Name() const override { return name_; }
  bool HasComponent(std::string_view component) const override {
    return AcceptAll || const_cast<TFakeLangWindow*>(this)->Find(component) != nullptr;
  }
  std::string ComponentClassName(std::string_view component) const override {
    auto* c = const_cast<TFakeLangWindow*>(this)->Find(component);
    return c == nullptr ? std::string{} : c->className;
  }
  std::optional<std::string> GetText(std::string_view component, std::string_view property) override {
    Component* c = FindOrMake(component);
    if (c == nullptr) return std::nullopt;
    const auto it = c->texts.find(std::string(property));
    if (it == c->texts.end()) {
      if (!AcceptAll) return std::nullopt;
      return std::string("x");
    }
    return it->second;
  }
  void SetText(std::string_view component, std::string_view property, const std::string& value) override {
    Component* c = FindOrMake(component);
    if (c == nullptr) return;
    c->texts[std::string(property)] = value;
    Writes.push_back(std::string(component) + "." + std::string(property) + "=" + value);
    if (OnWrite) OnWrite();
  }
  std::optional<std::vector<std::string>> GetList(std::string_view component, std::string_view property) override {
    Component* c = FindOrMake(component);
    if (c == nullptr) return std::nullopt;
    const auto it = c->lists.find(std::string(property));
    if (it == c->lists.end()) {
      if (!AcceptAll) return std::nullopt;
      return std::vector<std::string>{"a"};
    }
    return it->second;
  }
  void SetList(std::string_view component, std::string_view property, const std::vector<std::string>& items) override {
    Component* c = FindOrMake(component);
    if (c == nullptr) return;
    c->lists[std::string(property)] = items;
    std::string joined;
    for (const auto& i : items) joined += "[" + i + "]";
    Writes.push_back(std::string(component) + "." + std::string(property) + "=" + joined);
    if (OnWrite) OnWrite();
  }

 private:
  Component* Find(std::string_view name) {
    if (name.empty()) return &self_;
    for (auto& [n, c] : components_)
      if (TsiStringsCollection::SameText(n, name)) return &c;
    return nullptr;
  }
  Component* FindOrMake(std::string_view name) {
    Component* c = Find(name);
    if (c == nullptr && AcceptAll && components_.size() < 64) c = &components_[std::string(name)];
    return c;
  }

  std::string className_;
  std::string name_;
  Component self_;
  std::map<std::string, Component> components_;
};

}  // namespace mq::i18n
