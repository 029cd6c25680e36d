// A form's list of plug-ins, as the settings dialog and the wizard show it.
#pragma once

#include "plugins/KestrixCommUnit.h"
#include "ui/ComCtrls.h"

#include <vector>

// Replaces the rows of view with one per listed plug-in: the name, the
// description, the entry as the row's data and the check box. A plug-in
// without an entry gets a row without data when keepWithoutEntry, and none
// otherwise.
void FillPluginList(ui::TListView& view, const std::vector<ListedPlugin>& plugins,
                    bool keepWithoutEntry);
