// The plug-in host: one plug-in's page shown in the same container, at the
// same size and with the same creation sequence as the wizard's plug-in
// page, and its SaveSettings and Execute run on a test picture, so that a
// plug-in can be tried without the program. Every contract call and its
// outcome is written to the standard output.
#pragma once

#include "plugins/PluginSession.h"
#include "plugins/kestrix_TLB.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/Bitmap.h"
#include "ui/OleCtnrs.h"

#include <string>

class TPluginHostWindow : public ui::TForm {
public:
    // The plug-in by its class identifier in braces; the picture that
    // Execute gets.
    TPluginHostWindow(const std::string& pluginId, ui::TBitmap& picture);

    ui::TOleContainer& PluginContainer = Ctl<ui::TOleContainer>("PluginContainer");
    ui::TLabel& Status = Ctl<ui::TLabel>("Status");
    ui::TButton& Back = Ctl<ui::TButton>("Back");
    ui::TButton& Next = Ctl<ui::TButton>("Next");
    ui::TButton& Finalize = Ctl<ui::TButton>("Finalize");
    // The wizard's own plug-in session, fault frame and all.
    TPluginSession Session{PluginContainer};

    // Lists the plug-in as the wizard's list does, then creates and shows
    // its page as the wizard does at the plug-in's turn.
    void ShowPluginOptions();
    // SaveSettings, and after a successful Result, Execute with the
    // picture while the window is hidden; then the page afresh.
    void NextClick();
    // Whether the last Next got through Execute with a successful Result.
    bool Succeeded() const { return succeeded_; }

private:
    void FormActivate();
    void PluginContainerEnter();
    void PluginContainerExit();
    void Report(const std::string& line);

    std::string pluginId_;
    ui::TBitmap& picture_;
    // The plug-in as its listing found it.
    PluginTurn turn_;
    bool listed_ = false;
    bool shown_ = false;
    bool succeeded_ = false;
};

// A line on the standard output, when the host has one.
void WriteOutput(const std::string& line);

// The test picture: a bitmap file read from path (any depth Windows reads),
// or a drawn one when path is empty; at bits (1, 4, 8, 15, 16, 24, 32) when
// not 0, else at the file's depth (24 for the drawn one). Raises when the
// file cannot be read.
void LoadTestPicture(ui::TBitmap& picture, const std::wstring& path, int bits);
