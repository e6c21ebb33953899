// View-model control kinds: the window's controls with the properties the handlers use.
// Writing a value from code runs the control's change or click handler inside the call;
// the observer lets the Qt binder mirror every property change onto its widget.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// 24-bit RGB, or a system colour when the top bit is set (as the window toolkit names them).
using Color = std::uint32_t;
constexpr Color kRed = 0xFF0000;
constexpr Color kYellow = 0xFFFF00;
constexpr Color kGreen = 0x00FF00;
constexpr Color kSystemWindowBackground = 0x80000005;
constexpr Color kSystemDisplayGrey = 0x8000000B;  // inactive window border grey
constexpr bool IsSystemColor(Color c) {
  return (c & 0x80000000u) != 0;
}

struct Twips {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Twips&) const = default;
};

// Keys that act on a field rather than type into it.
enum class Key { Enter, Up, Down };

enum class Kind { Label, TextBox, ComboBox, CommandButton, Frame, TabControl, ProgressBar };

enum class Prop {
  Visible,
  Enabled,
  Geometry,
  ToolTip,
  Caption,
  Text,
  Locked,
  BackColor,
  Items,
  ListIndex,
  Value,
  Range,
  Tab,
};

class Control {
 public:
  using Observer = std::function<void(Control&, Prop)>;

  Control(std::string name, Kind kind, std::string container, Twips geometry)
      : name_(std::move(name)),
        container_(std::move(container)),
        kind_(kind),
        geometry_(geometry) {}
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control() = default;

  const std::string& Name() const { return name_; }
  // Name of the control this one sits in; a tab page is "GUI_Tabs:<index>", the window "".
  const std::string& Container() const { return container_; }
  Kind kind() const { return kind_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool v) { Assign(visible_, v, Prop::Visible); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { Assign(enabled_, v, Prop::Enabled); }
  const std::string& ToolTip() const { return toolTip_; }
  void SetToolTip(std::string t) { Assign(toolTip_, std::move(t), Prop::ToolTip); }

  const Twips& Geometry() const { return geometry_; }
  void SetLeft(int v) { SetGeometry({v, geometry_.top, geometry_.width, geometry_.height}); }
  void SetTop(int v) { SetGeometry({geometry_.left, v, geometry_.width, geometry_.height}); }
  void SetWidth(int v) { SetGeometry({geometry_.left, geometry_.top, v, geometry_.height}); }
  void SetHeight(int v) { SetGeometry({geometry_.left, geometry_.top, geometry_.width, v}); }
  void SetGeometry(Twips g) { Assign(geometry_, g, Prop::Geometry); }

  void SetObserver(Observer o) { observer_ = std::move(o); }

 protected:
  void Notify(Prop p) {
    if (observer_) observer_(*this, p);
  }
  template <class T, class U>
  bool Assign(T& field, U&& value, Prop p) {
    if (field == value) return false;
    field = std::forward<U>(value);
    Notify(p);
    return true;
  }

 private:
  std::string name_;
  std::string container_;
  Kind kind_;
  Twips geometry_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string toolTip_;
  Observer observer_;
};

// A control whose only text is its caption: a label or a frame.
template <Kind K>
class Captioned : public Control {
 public:
  Captioned(std::string name, std::string container, Twips g, std::string caption)
      : Control(std::move(name), K, std::move(container), g), caption_(std::move(caption)) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c) { Assign(caption_, std::move(c), Prop::Caption); }

 private:
  std::string caption_;
};
using Label = Captioned<Kind::Label>;
using Frame = Captioned<Kind::Frame>;

class CommandButton : public Control {
 public:
  CommandButton(std::string name, std::string container, Twips g, std::string caption)
      : Control(std::move(name), Kind::CommandButton, std::move(container), g),
        caption_(std::move(caption)) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c) { Assign(caption_, std::move(c), Prop::Caption); }

  std::function<void()> onClick;
  // A person's click: only a shown, enabled button can be clicked.
  void UserClick() {
    if (Visible() && Enabled() && onClick) onClick();
  }

 private:
  std::string caption_;
};

class TextBox : public Control {
 public:
  struct Style {
    bool locked = false;
    bool multiLine = false;
    bool centred = false;
    bool fixedFont = false;  // Courier New 9 pt
    Color backColor = kSystemWindowBackground;
  };

  TextBox(std::string name, std::string container, Twips g, std::string text, Style style)
      : Control(std::move(name), Kind::TextBox, std::move(container), g),
        text_(std::move(text)),
        locked_(style.locked),
        backColor_(style.backColor),
        multiLine_(style.multiLine),
        centred_(style.centred),
        fixedFont_(style.fixedFont) {}

  const std::string& Text() const { return text_; }
  // Raises the change handler only when the text really changes.
  void SetText(std::string t) {
    if (Assign(text_, std::move(t), Prop::Text) && onChange) onChange();
  }
  bool Locked() const { return locked_; }
  void SetLocked(bool v) { Assign(locked_, v, Prop::Locked); }
  Color BackColor() const { return backColor_; }
  void SetBackColor(Color c) { Assign(backColor_, c, Prop::BackColor); }
  bool MultiLine() const { return multiLine_; }
  bool Centred() const { return centred_; }
  bool FixedFont() const { return fixedFont_; }

  std::function<void()> onChange;
  // Sees each typed character's code; setting it to 0 drops the character.
  std::function<void(std::int16_t& keyAscii)> onKeyPress;

  // A person typing one character at the end of the text; returns whether it was kept.
  bool UserKeyPress(std::int16_t& keyAscii) {
    if (onKeyPress) onKeyPress(keyAscii);
    return keyAscii != 0;
  }
  // A key that acts on the field; returns whether a handler used it.
  std::function<bool(Key)> onKeyDown;
  bool UserKeyDown(Key key) { return onKeyDown && onKeyDown(key); }

  // Filters text a person puts in other than by typing (paste, drop); typed characters went
  // through the key-press handler already.
  std::function<std::string(std::string)> onUserText;
  // A person's edit that leaves the field holding t (typing, paste, cut).
  void UserEdit(std::string t) {
    if (onUserText) t = onUserText(std::move(t));
    SetText(std::move(t));
  }
  // A person pasting at the end of the text.
  void UserPaste(const std::string& pasted) { UserEdit(text_ + pasted); }

 private:
  std::string text_;
  bool locked_;
  Color backColor_;
  bool multiLine_;
  bool centred_;
  bool fixedFont_;
};

class ComboBox : public Control {
 public:
  struct Item {
    std::string text;
    std::int32_t data = 0;
    std::string toolTip;
    bool operator==(const Item&) const = default;
  };

  ComboBox(std::string name, std::string container, Twips g, std::vector<Item> items)
      : Control(std::move(name), Kind::ComboBox, std::move(container), g),
        items_(std::move(items)) {}

  const std::vector<Item>& Items() const { return items_; }
  int ListCount() const { return static_cast<int>(items_.size()); }
  std::int32_t ItemData(int i) const { return items_.at(static_cast<std::size_t>(i)).data; }
  const std::string& ItemText(int i) const { return items_.at(static_cast<std::size_t>(i)).text; }

  void Clear() {
    items_.clear();
    Notify(Prop::Items);
    // Emptying the list leaves no item chosen; that is no click.
    if (listIndex_ != -1) {
      listIndex_ = -1;
      Notify(Prop::ListIndex);
    }
  }
  void AddItem(std::string text, std::int32_t data = 0, std::string toolTip = {}) {
    items_.push_back({std::move(text), data, std::move(toolTip)});
    Notify(Prop::Items);
  }

  // Inserting or removing an entry before the chosen one moves the index with its entry, as
  // the list shows it; that is no click. The chosen entry itself is never removed this way.
  void InsertItem(int at, std::string text, std::int32_t data = 0, std::string toolTip = {}) {
    if (at < 0 || at > ListCount()) return;
    items_.insert(items_.begin() + at, {std::move(text), data, std::move(toolTip)});
    const bool moved = listIndex_ >= at;
    if (moved) ++listIndex_;
    Notify(Prop::Items);
    if (moved) Notify(Prop::ListIndex);
  }
  void RemoveItem(int at) {
    if (at < 0 || at >= ListCount() || at == listIndex_) return;
    items_.erase(items_.begin() + at);
    const bool moved = listIndex_ > at;
    if (moved) --listIndex_;
    Notify(Prop::Items);
    if (moved) Notify(Prop::ListIndex);
  }

  void SetItemToolTip(int at, std::string toolTip) {
    if (at < 0 || at >= ListCount() || items_[static_cast<std::size_t>(at)].toolTip == toolTip)
      return;
    items_[static_cast<std::size_t>(at)].toolTip = std::move(toolTip);
    Notify(Prop::Items);
  }

  std::int16_t ListIndex() const { return listIndex_; }
  // Setting the index from code runs the click handler when the index changes; an index
  // outside the list is refused.
  void SetListIndex(std::int16_t i) {
    if (i < -1 || i >= ListCount()) return;
    if (Assign(listIndex_, i, Prop::ListIndex) && onClick) onClick();
  }
  // A person choosing an entry raises click even for the entry already chosen.
  void UserChoose(std::int16_t i) {
    if (!Visible() || !Enabled() || locked_ || i < 0 || i >= ListCount()) return;
    Assign(listIndex_, i, Prop::ListIndex);
    if (onClick) onClick();
  }

  bool Locked() const { return locked_; }
  void SetLocked(bool v) { Assign(locked_, v, Prop::Locked); }

  std::function<void()> onClick;

 private:
  std::vector<Item> items_;
  std::int16_t listIndex_ = -1;
  bool locked_ = false;
};

class ProgressBar : public Control {
 public:
  ProgressBar(std::string name, std::string container, Twips g)
      : Control(std::move(name), Kind::ProgressBar, std::move(container), g) {}
  float Min() const { return min_; }
  float Max() const { return max_; }
  float Value() const { return value_; }
  // A value outside Min..Max is refused: the bar keeps its value.
  bool SetValue(float v) {
    if (!(v >= min_ && v <= max_)) return false;
    Assign(value_, v, Prop::Value);
    return true;
  }

 private:
  float min_ = 0, max_ = 100, value_ = 0;
};

class TabControl : public Control {
 public:
  TabControl(std::string name, std::string container, Twips g, std::vector<std::string> captions)
      : Control(std::move(name), Kind::TabControl, std::move(container), g),
        captions_(std::move(captions)) {}
  const std::vector<std::string>& Captions() const { return captions_; }
  int Tab() const { return tab_; }
  const std::string& ShownCaption() const { return captions_.at(static_cast<std::size_t>(tab_)); }
  void SetTab(int i) {
    if (i >= 0 && i < static_cast<int>(captions_.size())) Assign(tab_, i, Prop::Tab);
  }
  // A person bringing a tab to the front.
  void UserShowTab(int i) { SetTab(i); }

 private:
  std::vector<std::string> captions_;
  int tab_ = 0;
};

}  // namespace velmora
