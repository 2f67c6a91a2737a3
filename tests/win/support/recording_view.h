#pragma once

// A SetupDialogView that records what the worker asks of the dialog, in order, and lets a test
// look at the world at the moment of a call.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/setup_dialog_view.h"

class RecordingView : public SetupDialogView {
  public:
    HWND MainWindow() override { return window; }
    HWND ProgressBar() override { return nullptr; }
    bool Hide() override {
        Record(L"Hide");
        return true;
    }
    void SetProgress(int percent) override { Record(L"SetProgress " + std::to_wstring(percent)); }
    void SetStatusText(const wchar_t* text) override {
        Record(std::wstring(L"SetStatusText ") + text);
    }
    void PauseStatusText() override { Record(L"Pause"); }
    void ResumeStatusText() override { Record(L"Resume"); }
    int ShowMessageBox(const wchar_t* text, UINT flags) override {
        Record(std::wstring(L"ShowMessageBox ") + text + L" " + std::to_wstring(flags));
        return IDOK;
    }
    void EndSetupDialog() override { Record(L"EndSetupDialog"); }
    void RemoveTrayIcon() override { Record(L"RemoveTrayIcon"); }

    // Any window will do: the launch only hands it on as the owner of the elevation prompt.
    HWND window = GetDesktopWindow();
    std::vector<std::wstring> calls;
    // Called with each call as it is recorded.
    std::function<void(const std::wstring&)> onCall;

  private:
    void Record(const std::wstring& call) {
        calls.push_back(call);
        if (onCall) onCall(call);
    }
};
