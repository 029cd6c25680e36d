#include "settings/PluginListView.h"

void FillPluginList(ui::TListView& view, const std::vector<ListedPlugin>& plugins,
                    bool keepWithoutEntry) {
    view.BeginUpdate();
    // An error on the way leaves the rows added so far shown, and is the
    // one that is told.
    ui::ScopeExit update([&] {
        try {
            view.EndUpdate();
        } catch (...) {
        }
    });
    view.Clear();
    for (const ListedPlugin& plugin : plugins) {
        if (!plugin.entry && !keepWithoutEntry) continue;
        ui::TListItem& row = view.Add(plugin.name);
        row.AddSubItem(plugin.description);
        row.Data = plugin.entry;
        if (plugin.checked) row.SetChecked(true);
    }
    update.Release();
    view.EndUpdate();
}
