#pragma once
// The frame window's three popup menus as data: command ids, labels and check marks. The window
// layer builds the real popup from this whenever it opens one.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/config.h"

namespace gifanim::app {

inline constexpr std::uint32_t kMenuUnchecked = 0;
inline constexpr std::uint32_t kMenuChecked = 8;
inline constexpr std::uint32_t kMenuSeparator = 0x800;
// What GetMenuState answers for an id that no item has.
inline constexpr std::uint32_t kNoSuchItem = 0xFFFFFFFFu;

// The popups, by the number ShowPopupMenu takes.
enum class Popup { record = 1, save = 2, frames = 3 };

// Command ids, fixed by the order the items are appended in (separators take ids too).
namespace menu_id {
inline constexpr int new_recording = 1;
inline constexpr int first_rate = 3;
inline constexpr int last_rate = 6;
inline constexpr int full_screen = 8;
inline constexpr int settings = 9;
inline constexpr int about = 11;
inline constexpr int save_forward = 12;
inline constexpr int save_reverse = 13;
inline constexpr int delete_current = 14;
inline constexpr int delete_to_current = 15;
inline constexpr int delete_from_current = 16;
// Appended to the save popup after the frames popup's items, so ids 1 to 16 keep their numbers.
inline constexpr int save_separator = 17;
inline constexpr int optimize_size = 18;
// Opens the dialog "导出选项".
inline constexpr int export_options = 19;
// Appended to the record popup: pauses or resumes the running recording.
inline constexpr int pause_recording = 20;
}  // namespace menu_id

struct MenuItem {
    int id = 0;
    Popup popup = Popup::record;
    std::string label;  // GBK; empty for a separator
    std::uint32_t flags = kMenuUnchecked;
};

class MenuModel {
public:
    // Appends an item to a popup under the next command id. A label that is "-" or empty once its
    // blanks are trimmed makes a separator.
    int Append(Popup popup, std::string_view label);

    // The item's label; empty when no item has this id.
    std::string GetItemLabel(int id) const;
    // Rewrites the item with its label and these flags (8 checked, 0 unchecked).
    void SetItemCheck(int id, std::uint32_t flags);
    // A new label for an item that is no separator.
    void SetItemLabel(int id, std::string label);
    // The item's flags, or kNoSuchItem.
    std::uint32_t GetMenuState(int id) const;
    // Items 3 to 6 take these labels (the rate texts followed by "帧/s"), unchecked.
    void RelabelRateItems(const std::array<std::string, 4>& labels);

    // The items of one popup, in order.
    std::vector<MenuItem> Items(Popup popup) const;

private:
    MenuItem* find(int id);
    const MenuItem* find(int id) const;

    std::vector<MenuItem> items_;
    int next_id_ = 0;
};

// The three popups with ids 1 to 20, the rate items labelled from the settings file.
MenuModel BuildMenus(const ConfigFile& config);

}  // namespace gifanim::app
