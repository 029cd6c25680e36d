// Application object, screen, forms and the invisible utility windows.
#pragma once

#include "ui/Controls.h"
#include "ui/Graphics.h"
#include "ui/Handles.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

// Modal results.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Cursors, by their library numbers.
enum TCursor : int { crDefault = 0, crArrow = -2, crCross = -3, crHandPoint = -21 };
HCURSOR CursorHandle(TCursor cursor);

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};
using TWndMethod = std::function<void(TMessage&)>;

// An invisible top-level window whose messages go to a method. Top-level
// (not message-only) so that it receives broadcasts such as TaskbarCreated,
// and never visible, so that modal windows do not disable it.
HWND AllocateHWnd(TWndMethod method);
void DeallocateHWnd(HWND wnd);

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TPosition { poDesigned, poDesktopCenter, poScreenCenter };

struct TFontSpec {
    const char* Name = "MS Sans Serif";
    int Height = -11;
};

// What a form's resource declares about the window itself.
struct FormLayout {
    const char* ClassName;
    const char* Caption;
    int Left, Top, ClientWidth, ClientHeight;
    TBorderStyle BorderStyle = bsSizeable;
    TFormStyle FormStyle = fsNormal;
    TPosition Position = poDesigned;
    TFontSpec Font = {};
    COLORREF Color = CLR_INVALID;  // CLR_INVALID: clBtnFace
};

class TForm {
public:
    explicit TForm(const FormLayout& layout);
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;
    virtual ~TForm();

    HWND Handle() const { return wnd_.get(); }
    TWindowCanvas& Canvas() { return canvas_; }
    HFONT Font() const { return static_cast<HFONT>(font_.get()); }

    void Show();
    void Hide();
    bool Visible() const;
    int ShowModal();
    void Close();
    bool Modal() const { return modal_; }
    int ModalResult = mrNone;
    bool KeyPreview = false;
    void SetBounds(int left, int top, int width, int height);
    void SetCaption(const std::string& caption);

    // Events; the derived form wires its handlers in its constructor.
    std::function<void(char& key)> OnKeyPress;
    std::function<void(WORD& key)> OnKeyDown;
    std::function<void()> OnShow;

    // Buttons that Enter and Esc press.
    TButton* DefaultButton = nullptr;
    TButton* CancelButton = nullptr;

    // Called for every form once it is created; lets tests reach forms that
    // the program creates and runs modally itself.
    static std::function<void(TForm&)> CreationHook;

    // The form owning a window (the window itself or one of its children).
    static TForm* FromHandle(HWND wnd);
    // Key preview and dialog keys; true when the message was consumed.
    bool PreTranslate(MSG& msg);

protected:
    // Runs OnCreate-style work of the derived class at the end of its
    // constructor, and the destroy handler at the start of its destructor.
    void DoCreate(const std::function<void()>& handler);
    void DoDestroy(const std::function<void()>& handler);
    // Messages not handled here go to the default procedure.
    virtual bool WndProc(TMessage& msg);
    // Lays out aligned controls.
    void Realign();
    void AddControl(TControl* control);

private:
    static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    static void RegisterClassFor(const char* name);

    Window wnd_;
    GdiObject font_;
    GdiObject brush_;
    TWindowCanvas canvas_;
    std::vector<TControl*> controls_;
    bool modal_ = false;
    bool destroyed_ = false;
};

class TScreen {
public:
    int Width() const { return ::GetSystemMetrics(SM_CXSCREEN); }
    int Height() const { return ::GetSystemMetrics(SM_CYSCREEN); }
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor cursor);

private:
    TCursor cursor_ = crDefault;
};
extern TScreen Screen;

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
    // One message, waiting for it; false when the loop should end.
    bool HandleMessage();
    void ProcessMessages();
    void DestroyForms();

    // Shows the message of a program error and lets the program go on.
    // OnException, when set, takes the place of the message box.
    void HandleException(const std::exception& e);
    void HandleException();  // the current exception
    std::function<void(const std::string&)> OnException;

private:
    bool ProcessMessage(MSG& msg);
    std::string title_;
    bool terminated_ = false;
    ui::Icon icon_;
    TForm* mainForm_ = nullptr;
    std::vector<std::unique_ptr<TForm>> forms_;
};
extern TApplication Application;

// Runs fn, and passes any exception to the application's handler: for every
// Win32 callback, so that no C++ exception unwinds through system frames.
template <class F>
void Guarded(F&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        Application.HandleException();
    }
}

// Empties the working set, after a dialog or a capture.
void TrimWorkingSet();

}  // namespace ui
