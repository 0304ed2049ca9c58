// Tray whose items record their look and the menus opened at them. A test
// clicks an item with click() and chooses a row of the last menu with choose().
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "menubar/tray_platform.h"

namespace pilvo::testing {

struct FakeTrayItemState {
  bool present = true;  // false once the item is destroyed (removed from the tray)
  std::optional<menubar::TrayTint> tint;
  bool dimmed = false;
  std::string tooltip;
  std::function<void()> clicked;
  std::vector<std::vector<menubar::MenuRow>> menus;  // every menu opened, in order
  std::function<void(menubar::MenuAction)> chosen;   // of the last menu
};

class FakeTrayPlatform final : public menubar::TrayPlatform {
 public:
  std::unique_ptr<menubar::TrayItem> createItem(std::function<void()> clicked) override {
    auto state = std::make_shared<FakeTrayItemState>();
    state->clicked = std::move(clicked);
    items.push_back(state);
    return std::make_unique<Item>(state);
  }

  // Every item ever created, in order; the live one is last and present.
  std::vector<std::shared_ptr<FakeTrayItemState>> items;
  std::shared_ptr<FakeTrayItemState> current() const {
    return !items.empty() && items.back()->present ? items.back() : nullptr;
  }
  void click() const { current()->clicked(); }
  // Chooses the row with `text` in the last menu, as the user would; a
  // disabled row cannot be chosen.
  bool choose(const std::string& text) const {
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      const auto& item = *it;
      if (item->menus.empty()) continue;
      for (const menubar::MenuRow& row : item->menus.back()) {
        if (row.text == text && row.enabled) {
          item->chosen(row.action);
          return true;
        }
      }
      return false;
    }
    return false;
  }

 private:
  class Item final : public menubar::TrayItem {
   public:
    explicit Item(std::shared_ptr<FakeTrayItemState> state) : state_(std::move(state)) {}
    ~Item() override { state_->present = false; }
    void setTint(menubar::TrayTint tint) override { state_->tint = tint; }
    void setDimmed(bool dimmed) override { state_->dimmed = dimmed; }
    void setTooltip(const std::string& text) override { state_->tooltip = text; }
    void popUpMenu(const std::vector<menubar::MenuRow>& rows,
                   std::function<void(menubar::MenuAction)> chosen) override {
      state_->menus.push_back(rows);
      state_->chosen = std::move(chosen);
    }

   private:
    std::shared_ptr<FakeTrayItemState> state_;
  };
};

}  // namespace pilvo::testing
