// Application object, screen, forms and the invisible utility windows.
#pragma once

#include "ui/Controls.h"
#include "ui/Canvas.h"
#include "ui/Dpi.h"
#include "ui/Graphics.h"
#include "ui/Handles.h"
#include "ui/StdCtrls.h"

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

using TWndMethod = std::function<void(TMessage&)>;

// An invisible top-level window whose messages go to a method. Top-level
// (not message-only) so that it receives broadcasts such as TaskbarCreated,
// and never visible, so that modal windows do not disable it.
HWND AllocateHWnd(TWndMethod method);
void DeallocateHWnd(HWND wnd);

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TPosition { poDesigned, poDesktopCenter, poScreenCenter };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

struct TFontSpec {
    const char* Name = "MS Sans Serif";
    int Height = -11;  // pixels at 96 DPI
};

// What a form's layout declares about the window itself, in 96-DPI pixels.
struct FormLayout {
    const char* ClassName;
    const char* Caption;
    int Left, Top, ClientWidth, ClientHeight;
    TBorderStyle BorderStyle = bsSizeable;
    TFormStyle FormStyle = fsNormal;
    TPosition Position = poDesigned;
    TFontSpec Font = {};
    TColor Color = clBtnFace;
    unsigned BorderIcons = biSystemMenu;
    bool KeyPreview = false;
};

class TForm : public TWinControl {
public:
    template <size_t N>
    TForm(const FormLayout& layout, const TControlLayout (&controls)[N])
        : TForm(layout, controls, N) {}
    explicit TForm(const FormLayout& layout) : TForm(layout, nullptr, 0) {}
    ~TForm() override;

    TWindowCanvas& Canvas() { return canvas_; }
    // The form's logical DPI: its layout's 96-DPI pixels are scaled to it.
    // It is the DPI of the monitor the form opens on, and follows the form
    // to a monitor of another DPI.
    int PixelsPerInch() const { return ppi_; }
    // False for a form that keeps its size and layout whatever monitor it
    // is on (one that covers the screens itself).
    bool FollowDpiChanges = true;

    void Show();
    void Hide();
    bool Visible() const;
    // Runs the form in a nested loop until ModalResult is set (and the
    // close query agrees); the windows that were enabled are disabled
    // meanwhile and the form is owned by the window that was active.
    int ShowModal();
    // As the close box: a modal form ends with mrCancel, the main form ends
    // the application, another one hides.
    void Close();
    bool Modal() const { return modal_; }
    int ModalResult = mrNone;
    bool KeyPreview = false;
    // Tab, arrows, mnemonics, Enter and Esc as in a dialog box.
    bool DialogKeys = true;
    void SetBounds(int left, int top, int width, int height);
    void SetCaption(const std::string& caption);
    void SetClientSize(int width, int height);

    // The focused control of this form (deepest of ours), or null.
    TControl* ActiveControl() const { return active_; }
    // Buttons that Enter and Esc press.
    TButton* DefaultButton = nullptr;
    TButton* CancelButton = nullptr;

    // A control of the form's layout by name and class; raises when there
    // is none of that class.
    template <class T>
    T& Ctl(const char* name) {
        T* c = dynamic_cast<T*>(FindControl(name));
        if (!c) MissingControl(name);
        return *c;
    }

    // Events; the derived form wires its handlers in its constructor.
    std::function<void(char& key)> OnKeyPress;
    std::function<void(WORD& key, TShiftState shift)> OnKeyDown;
    std::function<void()> OnShow;
    std::function<void()> OnActivate;
    std::function<void()> OnDeactivate;
    std::function<void(bool& canClose)> OnCloseQuery;
    std::function<void(TCloseAction& action)> OnClose;
    // Laid out again at another DPI.
    std::function<void()> OnDpiChanged;

    // A pre-translate filter: true when it consumed the message. Filters run
    // newest first, before the key preview and the dialog keys.
    using TMessageFilter = std::function<bool(MSG& msg)>;
    int AddMessageFilter(TMessageFilter filter);
    void RemoveMessageFilter(int id);

    // Called for every form once it is created; lets tests reach forms that
    // the program creates and runs modally itself.
    static std::function<void(TForm&)> CreationHook;

    // The form owning a window (the window itself or one of its children).
    static TForm* FromHandle(HWND wnd);
    // Filters, key preview and dialog keys; true when the message was
    // consumed (or dispatched by the dialog manager).
    bool PreTranslate(MSG& msg);
    // The focus moved to a window of this form, ours or an embedded one.
    void FocusChanged(HWND focus);
    // The focus moved to or within a window that is not ours (an embedded
    // object's): the form looks where it is once the move is done.
    void FocusMovedElsewhere() noexcept;
    bool CloseQuery();

protected:
    TForm(const FormLayout& layout, const TControlLayout* controls, size_t count);
    // Runs the creation handler of the derived class at the end of its
    // constructor; a derived destructor runs its destroy handler itself.
    void DoCreate(const std::function<void()>& handler);
    bool WndProc(TMessage& msg) override;

private:
    friend class TControl;
    [[noreturn]] static void MissingControl(const char* name);
    static void RealignAll(TWinControl& container);
    static void PlaceAllAfterSiblings(TWinControl& container);
    // DPI changes (ui/FormScaling.cpp). Placed by code: remembered in 96-DPI
    // pixels for the next change.
    void Remember96(TControl& control, const RECT& bounds);
    // Lays the form out again from its 96-DPI layout at another DPI, at
    // the position Windows suggests.
    void ChangeDpi(int ppi, const RECT& suggested);
    void RescaleAll(TWinControl& container, int oldPpi);
    SIZE WindowSizeAt(int ppi) const;
    // The frame a window really has may not be the one its DPI asks for
    // (Wine draws every frame at the system DPI): the client size is what
    // counts. True when the window had to be sized again.
    bool FitClientSize(int width, int height);
    void FocusFirst();
    void UpdateDefaultButton();
    bool DoClose();

    int ppi_ = 96;
    int fontHeight96_ = -11;
    SIZE client96_{};
    bool rescaling_ = false;
    TWindowCanvas canvas_;
    bool modal_ = false;
    TControl* active_ = nullptr;
    TButton* shownDefault_ = nullptr;
    struct Filter {
        int id;
        TMessageFilter fn;
    };
    std::vector<Filter> filters_;
    int nextFilter_ = 1;
    bool focusCheckPosted_ = false;
};

class TScreen {
public:
    int Width() const { return ::GetSystemMetrics(SM_CXSCREEN); }
    int Height() const { return ::GetSystemMetrics(SM_CYSCREEN); }
    // The virtual screen round every monitor, in physical pixels; its origin
    // is negative where a monitor lies left of or above the primary.
    RECT DesktopRect() const;
    // Each monitor's rectangle in the same coordinates; parts of
    // DesktopRect() outside all of them show nothing.
    std::vector<RECT> MonitorRects() const;
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor cursor);
    // The monitor that forms made now open on: a centred form on its work
    // area, every form at its DPI. Null: a centred form on the primary,
    // another on the monitor of its layout's position.
    HMONITOR FormMonitor = nullptr;

private:
    TCursor cursor_ = crDefault;
};
extern TScreen Screen;

// Makes a form that opens on the given monitor.
template <class T, class... Args>
std::unique_ptr<T> MakeFormOn(HMONITOR monitor, Args&&... args) {
    const HMONITOR was = std::exchange(Screen.FormMonitor, monitor);
    ScopeExit back([was] { Screen.FormMonitor = was; });
    return std::unique_ptr<T>(new T(std::forward<Args>(args)...));
}

using TInitProc = void (*)();
using TTerminateProc = bool (*)();
// The init hook chain: each hook saves the one before it and calls it.
extern TInitProc InitProc;
void AddTerminateProc(TTerminateProc proc);

class TApplication {
public:
    TApplication();
    ~TApplication();

    void Initialize();
    std::string Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }
    bool ShowMainForm = true;
    HICON Icon();
    // The program's file, in full: a folder the code page cannot spell too.
    std::wstring ExeName() const;

    template <class T>
    void CreateForm(T*& slot) {
        std::unique_ptr<T> form(new T());
        slot = form.get();
        if (!mainForm_) mainForm_ = form.get();
        forms_.push_back(std::move(form));
    }
    TForm* MainForm() const { return mainForm_; }

    // The message loop until the application terminates; the forms are
    // destroyed afterwards.
    void Run();
    // Asks the terminate procedures; quits the loop when none vetoes.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Asks the thread's loop to quit from outside it (the last client of
    // the program's server went): the quit is remembered until the
    // outermost loop has it.
    void PostQuit(DWORD threadId) noexcept;
    // A quit that a loop of foreign code took and never passed on is
    // posted again; the quit's timer asks.
    void RepostSwallowedQuit() noexcept;
    // The outermost loop has the quit: nothing posts it again.
    void QuitReceived() noexcept;
    // One message, waiting for it; false when the loop should end.
    bool HandleMessage();
    // The messages waiting now, each through the forms' filters and dialog
    // keys; false when it met WM_QUIT (left for the outermost loop).
    bool ProcessMessages();
    void DestroyForms();

    // A message box over the active window, captioned with the title; the
    // text is UTF-8, as the program's messages are.
    int MessageBox(const std::string& text, UINT flags);

    // Shows the message of a program error and lets the program go on.
    // OnException, when set, takes the place of the message box.
    void HandleException(const std::exception& e);
    void HandleException();  // the current exception
    // The same for an exception that ends a window procedure or a COM
    // release: no box runs inside those; the message is shown once the
    // message loop has it back, in the order raised.
    void PostException() noexcept;
    std::function<void(const std::string&)> OnException;

private:
    bool ProcessMessage(MSG& msg);
    // Remembers the quit asked of the thread until the outermost loop has it.
    void WatchQuit(DWORD threadId) noexcept;
    bool PostError(const std::string& text) noexcept;
    void ShowError(const std::string& text);
    void ShowPostedErrors();
    std::string title_;
    bool terminated_ = false;
    // A quit was posted that the outermost loop has not had yet.
    volatile LONG quitPending_ = 0;
    DWORD quitThread_ = 0;
    UINT_PTR quitWatch_ = 0;
    std::deque<std::string> postedErrors_;
    HWND errorWnd_ = nullptr;
    bool showingErrors_ = false;
    ui::Icon icon_;
    TForm* mainForm_ = nullptr;
    std::vector<std::unique_ptr<TForm>> forms_;
};
extern TApplication Application;

// Runs fn, and passes any exception to the application's handler, so that
// no C++ exception unwinds through system frames.
template <class F>
void Guarded(F&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        Application.HandleException();
    }
}

// The same where the system calls the program (a window procedure, a timer,
// a COM release): the error is shown from the message loop.
template <class F>
void GuardedCallback(F&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        Application.PostException();
    }
}

// Empties the working set, after a dialog or a capture.
void TrimWorkingSet();

}  // namespace ui
