// TLangWindow: what a window offers to its translation component. A window
// (the Qt main window, the control-less pad-link form, a test fake)
// implements it over its own child objects. Component names are matched
// without regard to case; the empty component name means the window itself.
// A property is a dotted path below the component: "Caption", "Hint",
// "Items", "ExpandButtonCaption", or "Font.Name" for a sub-property.
// Reads return nullopt when the component or a readable *and* writable
// property of that kind does not exist; the component then skips the entry
// without report. Writes of text and lists are only made when the value
// differs, so an implementation may write unconditionally.
// Threading: UI thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TLangWindow {
 public:
  virtual ~TLangWindow() = default;

  // e.g. "TfrmMain", "TMarqsForm".
  virtual std::string ClassName() const = 0;
  // e.g. "frmMain", "MarqsForm".
  virtual std::string Name() const = 0;

  // True when a child component of that name (any case) exists.
  virtual bool HasComponent(std::string_view component) const = 0;
  // Class name of a child component; empty when unknown. Only used for
  // "!Class.Property" exclusions, so a window may leave it empty.
  virtual std::string ComponentClassName(std::string_view /*component*/) const { return {}; }

  // A text property (UTF-8; line breaks as CR LF).
  virtual std::optional<std::string> GetText(std::string_view component, std::string_view property) = 0;
  virtual void SetText(std::string_view component, std::string_view property, const std::string& value) = 0;

  // A list-of-texts property ("Items", "Lines"). SetList replaces the
  // items in place: item i takes the new text i, extra items are appended,
  // surplus items are deleted from the end; a list control keeps its
  // selected index and a sorted list is re-sorted afterwards.
  virtual std::optional<std::vector<std::string>> GetList(std::string_view component, std::string_view property) = 0;
  virtual void SetList(std::string_view component, std::string_view property,
                       const std::vector<std::string>& items) = 0;
};

}  // namespace mq::i18n
