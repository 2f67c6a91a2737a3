#pragma once

// A SetupDialogView that records what the worker asks of the dialog, in order.
#include <windows.h>

#include <string>
#include <vector>

#include "ui/setup_dialog_view.h"

class RecordingView : public SetupDialogView {
  public:
    HWND MainWindow() override { return window; }
    HWND ProgressBar() override { return nullptr; }
    bool Hide() override {
        calls.push_back(L"Hide");
        return true;
    }
    void SetProgress(int percent) override {
        calls.push_back(L"SetProgress " + std::to_wstring(percent));
    }
    void SetStatusText(const wchar_t* text) override {
        calls.push_back(std::wstring(L"SetStatusText ") + text);
    }
    void PauseStatusText() override { calls.push_back(L"Pause"); }
    void ResumeStatusText() override { calls.push_back(L"Resume"); }
    int ShowMessageBox(const wchar_t* text, UINT flags) override {
        calls.push_back(std::wstring(L"ShowMessageBox ") + text + L" " + std::to_wstring(flags));
        return IDOK;
    }
    void EndSetupDialog() override { calls.push_back(L"EndSetupDialog"); }

    // Any window will do: the launch only hands it on as the owner of the elevation prompt.
    HWND window = GetDesktopWindow();
    std::vector<std::wstring> calls;
};
