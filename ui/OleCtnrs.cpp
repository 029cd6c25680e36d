#include "ui/OleCtnrs.h"
#include "ui/Exception.h"
namespace ui {
TOleContainer::TOleContainer(TWinControl& parent, const TControlLayout& layout)
    : TCustomControl(parent, layout, "TOleContainer") {}
TOleContainer::~TOleContainer() = default;
void TOleContainer::CreateObject(const std::wstring&, bool) { throw Exception("No container yet"); }
bool TOleContainer::HasObject() const noexcept { return false; }
void TOleContainer::DestroyObject() noexcept {}
ComPtr<IDispatch> TOleContainer::OleObject() const { throw Exception("No container yet"); }
void TOleContainer::DoVerb(LONG) { throw Exception("No container yet"); }
}
