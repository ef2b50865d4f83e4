#pragma once
// The questions of delete, replace and new-folder operations, and the progress of the operation.
// Answers are modal-result codes; a batch keeps its last answer and asks again only while it is not
// final.
#ifdef _WIN32
#include "uGLBConst.h"   // FormatTableText, for the texts of the questions
#include "uTvrqProgress.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Answer codes.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;


// What is shown to the user for one question. The seam below receives it.
enum class TvrqQuestionKind {
    YesNoBox,       // message box with Yes and No
    WarningBox,     // message box with OK only; its answer is ignored
    DeleteForm,     // TfrmConfirmDelete: Yes/No and the choice "move to trash" / "delete permanently"
    OverwriteForm,  // TfrmConfirmOverwrite: Yes, Yes to all, No, Cancel
    NewFolderForm,  // TfrmNewFolder: a name, OK and Cancel
};

struct TvrqQuestion {
    TvrqQuestionKind Kind = TvrqQuestionKind::YesNoBox;
    std::string Caption;      // window caption
    std::string Text;         // the message (empty for the new-folder form)
    // Delete form: in, nothing (the form starts with "move to trash"); out, true when the user chose
    // permanent deletion.
    bool Permanent = false;
    // New-folder form: in, the proposed name; out, the name as typed (kept when not answered 1).
    std::string Name;
};

// The one way the user's answers reach the callers: shows the question and returns the answer code.
// The default shows the real message boxes and forms.
using TvrqAnswerFn = std::function<int(TvrqQuestion& question)>;
// Replaces the default for the whole process (tests); an empty function restores the real windows.
void SetDialogAnswers(TvrqAnswerFn fn);

// Test seam: answers the questions asked while it lives from a script, in order, and records every
// question (warnings are recorded and use no answer). Questions beyond the script get mrCancel.
struct TvrqScriptedAnswer {
    TvrqScriptedAnswer(int code = mrYes, bool permanent = false, std::string name = {})
        : Code(code), Permanent(permanent), Name(std::move(name)) {}
    int Code = mrYes;
    bool Permanent = false;   // delete form: the radio choice
    std::string Name;         // new-folder form: the typed name
};
class TvrqScriptedAnswers {
public:
    explicit TvrqScriptedAnswers(std::vector<TvrqScriptedAnswer> script);
    ~TvrqScriptedAnswers();   // restores the real windows
    TvrqScriptedAnswers(const TvrqScriptedAnswers&) = delete;
    TvrqScriptedAnswers& operator=(const TvrqScriptedAnswers&) = delete;
    std::vector<TvrqQuestion> Asked;
    size_t Used = 0;          // answers of the script used so far
private:
    std::vector<TvrqScriptedAnswer> Script;
};

class TvrqDialog {
public:
    TvrqDialog();
    ~TvrqDialog();   // closes the progress window
    TvrqDialog(const TvrqDialog&) = delete;
    TvrqDialog& operator=(const TvrqDialog&) = delete;

    // Delete questions: with permanent already true a Yes/No box (the flag stays), else the delete
    // form, after which permanent tells the user's radio choice. Answers 6 or 7 (2 when the window
    // is closed).
    int ConfirmDeleteFile(const std::string& name, bool& permanent);
    int ConfirmDeleteItems(int32_t count, bool& permanent);
    int ConfirmDeleteFolder(const std::string& name, bool& permanent);
    // Yes/No box: 6 or 7.
    int ConfirmReplaceFile(const std::string& name);
    // Overwrite form: 6, 10, 7 or 2.
    int ConfirmReplaceFileAll(const std::string& name);
    int ConfirmReplaceFolder(const std::string& name);
    // New-folder form: 1 (name := the text as typed) or 2 (name unchanged).
    int AskNewFolderName(std::string& name);
    void ShowWarning(const std::string& caption, const std::string& text);

    static bool IsFinalAnswer(int code);      // 2, 3, 8, 9, 10
    static bool IsPositiveAnswer(int code);   // 1, 6, 8, 10
    static std::string ButtonCaption(int code);
    static int MapMessageBoxResult(int result);   // 1, 3, 6, 7 stay; anything else is 2

    TvrqProgress Progress;
};
#endif
