#include "app/menu.h"

#include "app/hotkeys.h"
#include "app/settings.h"

namespace gifanim::app {

namespace {
std::string_view trim_blanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}
}  // namespace

int MenuModel::Append(Popup popup, std::string_view label) {
    MenuItem item;
    item.id = ++next_id_;
    item.popup = popup;
    const std::string_view trimmed = trim_blanks(label);
    if (trimmed.empty() || trimmed == "-") {
        item.flags = kMenuSeparator;
    } else {
        item.label = std::string(label);
    }
    items_.push_back(std::move(item));
    return next_id_;
}

MenuItem* MenuModel::find(int id) {
    for (MenuItem& item : items_)
        if (item.id == id) return &item;
    return nullptr;
}

const MenuItem* MenuModel::find(int id) const {
    return const_cast<MenuModel*>(this)->find(id);
}

std::string MenuModel::GetItemLabel(int id) const {
    const MenuItem* item = find(id);
    return item ? item->label : std::string();
}

void MenuModel::SetItemCheck(int id, std::uint32_t flags) {
    if (MenuItem* item = find(id); item && item->flags != kMenuSeparator) item->flags = flags;
}

void MenuModel::SetItemLabel(int id, std::string label) {
    if (MenuItem* item = find(id); item && item->flags != kMenuSeparator) item->label = std::move(label);
}

std::uint32_t MenuModel::GetMenuState(int id) const {
    const MenuItem* item = find(id);
    return item ? item->flags : kNoSuchItem;
}

void MenuModel::RelabelRateItems(const std::array<std::string, 4>& labels) {
    for (int i = 0; i < 4; ++i) {
        if (MenuItem* item = find(menu_id::first_rate + i)) {
            item->label = labels[static_cast<std::size_t>(i)];
            item->flags = kMenuUnchecked;
        }
    }
}

std::vector<MenuItem> MenuModel::Items(Popup popup) const {
    std::vector<MenuItem> out;
    for (const MenuItem& item : items_)
        if (item.popup == popup) out.push_back(item);
    return out;
}

MenuModel BuildMenus(const ConfigFile& config) {
    MenuModel menus;
    menus.Append(Popup::record, "新建(&V)");
    menus.Append(Popup::record, "-");
    for (const ConfigKey& key : {keys::rate1, keys::rate2, keys::rate3, keys::rate4}) {
        menus.Append(Popup::record, rate_label(config.ReadKey(key)));
    }
    menus.Append(Popup::record, "-");
    menus.Append(Popup::record, "全屏幕(&X)");
    menus.Append(Popup::record, "设置(&Z)");
    menus.Append(Popup::record, "-");
    menus.Append(Popup::record, "关于(&H)");
    menus.Append(Popup::save, "正序保存");
    menus.Append(Popup::save, "倒序保存");
    menus.Append(Popup::frames, "删除当前帧");
    menus.Append(Popup::frames, "删除第一帧到当前帧");
    menus.Append(Popup::frames, "删除从当前帧最后一帧");
    menus.Append(Popup::save, "-");
    menus.Append(Popup::save, "优化体积");
    menus.Append(Popup::save, "导出选项...");
    menus.Append(Popup::record, pause_item_label(false));
    return menus;
}

}  // namespace gifanim::app
