// Placeholder until the container lands.
#pragma once
#include "ui/Controls.h"
#include <string>
namespace ui {
class TOleContainer : public TCustomControl {
public:
    TOleContainer(TWinControl& parent, const TControlLayout& layout);
    ~TOleContainer() override;
    void CreateObject(const std::wstring& progId, bool iconic = false);
    bool HasObject() const noexcept;
    void DestroyObject() noexcept;
    ComPtr<IDispatch> OleObject() const;
    void DoVerb(LONG verb);
protected:
    void Paint(HDC) override {}
};
constexpr TControlKind ckOleContainer = &CreateControl<TOleContainer>;
}
