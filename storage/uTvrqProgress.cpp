#include "uTvrqProgress.h"

#include "uGLBConst.h"

namespace {
constexpr uint8_t kStartAnimation = 4;
}

TvrqProgress::~TvrqProgress() {
    Close();
}

void TvrqProgress::Start(const std::string& title, int32_t maximum, bool countSteps) {
    if (!Dialog)
        Dialog = std::make_unique<TProgressDialog>(title, kStartAnimation,
                                                   poNormal | poAutoTime | poNoMinimize, Txt(13));
    Dialog->SetLine1(title);
    Dialog->SetLine2("");
    CountSteps = countSteps;
    Reset(maximum);
}

void TvrqProgress::StartDefault() {
    Start(Txt(87), 1, true);
}

void TvrqProgress::SetLines(const std::string& line1, const std::string& line2, uint8_t animation) {
    if (!Dialog)
        return;
    Dialog->SetLine1(line1);
    Dialog->SetLine2(line2);
    Dialog->SetAnimation(animation);
}

void TvrqProgress::SetDetail(const std::string& text) {
    if (Dialog)
        Dialog->SetLine2(text);
}

void TvrqProgress::StepBy(int32_t n) {
    if (Dialog)
        Dialog->SetPosition(Dialog->Position + n);
}

void TvrqProgress::ShowPart(uint64_t done, uint64_t total) {
    if (Dialog && total > 0)
        Dialog->SetPart(static_cast<double>(done) / static_cast<double>(total));
}

void TvrqProgress::ExtendBy(int32_t n) {
    if (Dialog)
        Dialog->SetMax(Dialog->Max + n);
}

void TvrqProgress::GetState(int32_t& position, int32_t& maximum) const {
    if (!Dialog) {
        position = 0;
        maximum = 1;
        return;
    }
    position = Dialog->Position;
    maximum = Dialog->Max;
}

void TvrqProgress::Reset(int32_t n) {
    if (!Dialog)
        return;
    Dialog->SetMax(n);
    Dialog->SetPosition(0);
}

void TvrqProgress::Close() {
    Dialog.reset();
}

bool TvrqProgress::Cancelled() {
    return Dialog && Dialog->HasUserCancelled();
}

HWND TvrqProgress::WindowHandle() const {
    return Dialog ? Dialog->WindowHandle() : nullptr;
}
