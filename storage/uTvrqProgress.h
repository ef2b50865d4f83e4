#pragma once
// The progress of one long operation: the shell window is made on the first Start and reused by
// later Starts until Close.
#ifdef _WIN32
#include "uTProgressDialog.h"

#include <cstdint>
#include <memory>
#include <string>

class TvrqProgress {
public:
    TvrqProgress() = default;
    ~TvrqProgress();
    TvrqProgress(const TvrqProgress&) = delete;
    TvrqProgress& operator=(const TvrqProgress&) = delete;

    // Creates the window when there is none (its title bar keeps this first title); then line 1 :=
    // title, line 2 := "", CountSteps := countSteps, Reset(maximum).
    void Start(const std::string& title, int32_t maximum, bool countSteps);
    // Start("Bitte warten..." / "Please wait...", 1, true).
    void StartDefault();
    void SetLines(const std::string& line1, const std::string& line2, uint8_t animation);
    void SetDetail(const std::string& text);       // line 2
    void StepBy(int32_t n);                        // position += n
    void ExtendBy(int32_t n);                      // maximum += n
    // done of total (bytes) of the step under way, shown by the bar; the next StepBy completes it.
    void ShowPart(uint64_t done, uint64_t total);
    void GetState(int32_t& position, int32_t& maximum) const;   // (0, 1) without a window
    void Reset(int32_t n);                         // maximum := n, position := 0
    void Close();                                  // the window disappears
    // True only when a window exists and the user pressed its Cancel.
    bool Cancelled();

    // The shell window, for tests that press its Cancel button (0 without a window).
    HWND WindowHandle() const;

    // When true, the storage client adds its own request count to the maximum before it runs.
    bool CountSteps = true;
    std::unique_ptr<TProgressDialog> Dialog;       // empty until the first Start
};
#endif
