#include "settings/PluginListView.h"

void FillPluginList(ui::TListView& view, const std::vector<ListedPlugin>& plugins,
                    bool keepWithoutEntry) {
    view.BeginUpdate();
    ui::ScopeExit update([&] { view.EndUpdate(); });
    view.Clear();
    for (const ListedPlugin& plugin : plugins) {
        if (!plugin.entry && !keepWithoutEntry) continue;
        ui::TListItem& row = view.Add(plugin.name);
        row.AddSubItem(plugin.description);
        row.Data = plugin.entry;
        if (plugin.checked) row.SetChecked(true);
    }
}
