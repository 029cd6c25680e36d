// The in-place host of an embedded OLE object: the object is created by its
// ProgID, activated only when the program says so, and fills the container.
#pragma once

#include "ui/Controls.h"
#include "ui/ForeignCall.h"
#include "ui/Handles.h"

#include <ole2.h>

#include <string>

namespace ui {

class TOleSite;
class TForm;

class TOleContainer : public TCustomControl {
public:
    TOleContainer(TWinControl& parent, const TControlLayout& layout);
    ~TOleContainer() override;

    // Creates an embedded object of the class with this ProgID; the object
    // held before is destroyed first. An iconic object is never activated
    // in place (its verbs open it in a window of its own). Raises
    // EOleSysError on any failure, and then holds no object.
    void CreateObject(const std::wstring& progId, bool iconic = false);
    bool HasObject() const noexcept { return static_cast<bool>(object_); }
    // Deactivates, closes and releases the object held, if any.
    void DestroyObject() noexcept;
    // The same, but a fault in it abandons the object and raises
    // EForeignFault at once, so that the caller can tell whose it was.
    void CloseObject();
    // Lets go of the object without calling it again, not even to release
    // it: for an object that faulted.
    void AbandonObject() noexcept;
    // Every call into the object runs in a fault frame. A fault in a call
    // the container makes of its own accord (a key, a resize, the focus)
    // abandons the object and is reported here, once the message that
    // led to it is done; a fault in CreateObject or DoVerb abandons it and
    // raises EForeignFault.
    std::function<void(const EForeignFault&)> OnObjectFault;
    // The owner's mark for the object held: the fault reported later
    // carries the mark of the object that faulted (FaultedTag), even when
    // another object has been created since.
    intptr_t ObjectTag = 0;
    intptr_t FaultedTag() const noexcept { return faultTag_; }
    // The object's automation interface; raises when no object is held or
    // the object has none.
    ComPtr<IDispatch> OleObject() const;
    // Runs the verb with this container's site and client rectangle.
    void DoVerb(LONG verb);

protected:
    bool WndProc(TMessage& msg) override;
    void Paint(HDC dc) override;
    void DestroyingWindows() noexcept override;

private:
    friend class TOleSite;
    friend class TOleFrame;
    // Calls from the site and the frame.
    bool InPlaceActivated() noexcept;
    void InPlaceDeactivated() noexcept;
    void ActiveObjectChanged(IOleInPlaceActiveObject* object) noexcept;
    // The focus may have moved into, within or out of the object.
    void ObjectFocusMoved() noexcept;
    void WatchFocus(bool on) noexcept;
    static LRESULT CALLBACK FocusHookProc(int code, WPARAM wp, LPARAM lp) noexcept;
    bool Iconic() const noexcept { return aspect_ == DVASPECT_ICON; }

    HWND ObjectWindow() noexcept;
    void ResizeObject() noexcept;
    void RemoveFormHooks() noexcept;
    bool TranslateObjectKey(MSG& msg) noexcept;
    [[noreturn]] void RaiseNoObject() const;
    // Deactivates, closes and releases the object; inside a fault frame.
    void CloseSteps();
    // Runs a call into the object; a fault abandons it and raises.
    template <class F>
    decltype(auto) ObjectCall(F&& f);
    // The same where nothing may raise: the fault is reported later.
    template <class F>
    void QuietObjectCall(F&& f) noexcept;

    ComPtr<IOleObject> object_;
    ComPtr<TOleSite> site_;
    ComPtr<IStorage> storage_;
    ComPtr<IOleInPlaceObject> inPlaceObject_;
    ComPtr<IOleInPlaceActiveObject> activeObject_;
    std::wstring progId_;
    DWORD aspect_ = DVASPECT_CONTENT;
    TForm* filterForm_ = nullptr;
    int keyFilter_ = 0;
    DWORD faultCode_ = 0;
    const void* faultAddress_ = nullptr;
    intptr_t faultTag_ = 0;
};

constexpr TControlKind ckOleContainer = &CreateControl<TOleContainer>;

}  // namespace ui
