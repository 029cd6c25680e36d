// The wizard's first page: a small bitmap editor over the captured picture.
// Tools, the shape preview, the text box, pen and font, colour depth and the
// undo history; the windows it works through belong to the wizard's form.
#pragma once

#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/Menus.h"
#include "ui/Timers.h"
#include "wizard/UndoHistory.h"

#include <functional>
#include <memory>

// The form's windows and components that the editor uses.
struct EditorControls {
    ui::TForm& form;
    ui::TScrollBox& scrollBox;
    ui::TImage& screenShot;
    ui::TToolBar& toolBar;
    ui::TToolButton& tbMove;
    ui::TToolButton& tbPaint;
    ui::TToolButton& tbLine;
    ui::TToolButton& tbEllipse;
    ui::TToolButton& tbSquare;
    ui::TToolButton& tbText;
    ui::TToolButton& tbSettings;
    ui::TShape& penColor;
    ui::TColorDialog& colorDialog;
    ui::TFontDialog& fontDialog;
    ui::TTimer& fontClickTimer;
    ui::TPopupMenu& fontClickPopup;
    ui::TPopupMenu& imageInfoMenu;
};

class TPictureEditor {
public:
    // Sets up the tool bar, pen and picture, and takes the events of the
    // picture, the tool buttons, the pen colour and the font timer.
    explicit TPictureEditor(const EditorControls& controls);
    TPictureEditor(const TPictureEditor&) = delete;
    TPictureEditor& operator=(const TPictureEditor&) = delete;

    // Called after every change to the picture's pixels.
    std::function<void()> OnPictureChange;

    // The anchor is the last press point on the picture: start of a figure,
    // grab point of a drag, previous point of a stroke, place of a text.
    int AnchorX = 0, AnchorY = 0;
    bool Dragging = false;
    // The picture's pixels under the shape preview, and where they came from.
    std::unique_ptr<ui::TBitmap> SaveUnderBitmap;
    RECT SaveUnderRect{0, 0, 0, 0};
    ui::TEdit* TextBox = nullptr;
    bool FontButtonReleased = false;
    // Snapshots of the picture before each change, newest first.
    TUndoHistory History;

    // Back to a fresh start, the history empty.
    void Reset();
    // Frees the preview's pixels, the text box and the history.
    void Clear();
    // A text still being typed goes into the picture.
    void CommitOpenText();

    void FormActivate();
    void FormKeyDown(WORD& Key, ui::TShiftState Shift);
    void tbMoveClick();
    void tbPaintClick();
    void tbLineClick();
    void tbEllipseClick();
    void tbSquareClick();
    void tbTextClick();
    void tbSettingsClick();
    void ScreenShotMouseDown(ui::TMouseButton Button, ui::TShiftState Shift, int X, int Y);
    void ScreenShotMouseMove(ui::TShiftState Shift, int X, int Y);
    void ScreenShotMouseUp(ui::TMouseButton Button, ui::TShiftState Shift, int X, int Y);
    void PenColorMouseUp();
    void tbTextMouseDown();
    void tbTextMouseUp();
    void FontClickTimerTimer();
    void FontSettings1Click();
    void Label6Click();
    void SetDepth(ui::TPixelFormat format);

private:
    enum class TTool { None, Move, Paint, Line, Square, Text, Ellipse };
    TTool SelectedTool() const;
    // The tool of the drag under way: asking the tool bar costs a round trip
    // to the window system, too much for every move of a stroke.
    TTool dragTool_ = TTool::None;
    void SelectTool(ui::TToolButton& button, ui::TCursor cursor);
    ui::TBitmap& Picture() { return c_.screenShot.Picture.Bitmap(); }
    ui::TCanvas& PictureCanvas() { return Picture().Canvas(); }
    // Shows the changed part of the picture.
    void PictureChanged(const RECT& r);
    void SaveUnder(int x1, int y1, int x2, int y2);
    void RestoreUnder();
    void ApplyPenColor();
    void OpenTextBox();
    void CommitText();
    void CancelText();
    void TextBoxKeyDown(WORD& Key);
    void TextBoxExit();
    // Pops a menu up at a tool button's top-right corner.
    void PopupAt(ui::TPopupMenu& menu, ui::TToolButton& button);
    void PushHistory();
    void StepBack();
    void Changed();

    EditorControls c_;
};
