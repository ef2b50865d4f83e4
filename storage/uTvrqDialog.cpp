#include "uTvrqDialog.h"

#include "uGLBConst.h"
#include "uGLBWin.h"
#include "ufrmConfirmDelete.h"
#include "ufrmConfirmOverwrite.h"
#include "ufrmNewFolder.h"
#include "uTSeam.h"

#include <utility>

namespace {

TSeam<TvrqAnswerFn> answers;

std::string WithoutFinalDelimiter(std::string name) {
    if (!name.empty() && (name.back() == '\\' || name.back() == '/'))
        name.pop_back();
    return name;
}

int ShowBox(const TvrqQuestion& question, UINT style) {
    return MessageBoxW(nullptr, Utf8ToWide(question.Text).c_str(),
                       Utf8ToWide(question.Caption).c_str(),
                       style | MB_SETFOREGROUND | MB_TOPMOST);
}

// The real windows.
int ShowQuestion(TvrqQuestion& question) {
    switch (question.Kind) {
    case TvrqQuestionKind::YesNoBox:
        return TvrqDialog::MapMessageBoxResult(ShowBox(question, MB_YESNO | MB_ICONQUESTION));
    case TvrqQuestionKind::WarningBox:
        ShowBox(question, MB_OK | MB_ICONWARNING);
        return mrOk;
    case TvrqQuestionKind::DeleteForm: {
        TfrmConfirmDelete form;
        form.Caption = question.Caption;
        form.Message = question.Text;
        form.NotDeleteCaption = Txt(35);
        form.DeleteCaption = Txt(36);
        form.YesCaption = TvrqDialog::ButtonCaption(mrYes);
        form.NoCaption = TvrqDialog::ButtonCaption(mrNo);
        int result = form.ShowModal();
        question.Permanent = form.Permanent;
        return result;
    }
    case TvrqQuestionKind::OverwriteForm: {
        TfrmConfirmOverwrite form;
        form.Caption = question.Caption;
        form.Message = question.Text;
        form.QuestionVisible = true;
        form.YesCaption = TvrqDialog::ButtonCaption(mrYes);
        form.YesToAllCaption = TvrqDialog::ButtonCaption(mrYesToAll);
        form.NoCaption = TvrqDialog::ButtonCaption(mrNo);
        form.CancelCaption = TvrqDialog::ButtonCaption(mrCancel);
        return form.ShowModal();
    }
    case TvrqQuestionKind::NewFolderForm: {
        TfrmNewFolder form;
        form.Caption = question.Caption;
        form.PathName = question.Name;
        form.Hint = Txt(66);
        form.OkCaption = TvrqDialog::ButtonCaption(mrOk);
        form.CancelCaption = TvrqDialog::ButtonCaption(mrCancel);
        int result = form.ShowModal();
        question.Name = form.PathName;
        return result;
    }
    }
    return mrCancel;
}

int Ask(TvrqQuestion& question) {
    const TvrqAnswerFn fn = answers.Get();
    return fn ? fn(question) : ShowQuestion(question);
}

int AskDelete(const std::string& boxText, const std::string& formText, const std::string& caption,
              bool& permanent) {
    TvrqQuestion question;
    question.Caption = caption;
    if (permanent) {
        question.Kind = TvrqQuestionKind::YesNoBox;
        question.Text = boxText;
        return Ask(question);
    }
    question.Kind = TvrqQuestionKind::DeleteForm;
    question.Text = formText;
    int result = Ask(question);
    permanent = question.Permanent;
    return result;
}

int AskOverwrite(const std::string& caption, const std::string& text) {
    TvrqQuestion question;
    question.Kind = TvrqQuestionKind::OverwriteForm;
    question.Caption = caption;
    question.Text = text;
    return Ask(question);
}

}  // namespace

void SetDialogAnswers(TvrqAnswerFn fn) {
    answers.Set(std::move(fn));
}

TvrqScriptedAnswers::TvrqScriptedAnswers(std::vector<TvrqScriptedAnswer> script)
    : Script(std::move(script)) {
    SetDialogAnswers([this](TvrqQuestion& question) {
        Asked.push_back(question);
        if (question.Kind == TvrqQuestionKind::WarningBox)
            return mrOk;
        if (Used >= Script.size())
            return mrCancel;
        const TvrqScriptedAnswer& answer = Script[Used++];
        if (question.Kind == TvrqQuestionKind::DeleteForm)
            question.Permanent = answer.Permanent;
        if (question.Kind == TvrqQuestionKind::NewFolderForm && answer.Code == mrOk)
            question.Name = answer.Name;
        return answer.Code;
    });
}

TvrqScriptedAnswers::~TvrqScriptedAnswers() {
    SetDialogAnswers(nullptr);
}

TvrqDialog::TvrqDialog() = default;

TvrqDialog::~TvrqDialog() {
    Progress.Close();
}

int TvrqDialog::ConfirmDeleteFile(const std::string& name, bool& permanent) {
    return AskDelete(FormatTableText(Txt(70), name), FormatTableText(Txt(71), name), Txt(72), permanent);
}

int TvrqDialog::ConfirmDeleteItems(int32_t count, bool& permanent) {
    std::string number = std::to_string(count);
    return AskDelete(FormatTableText(Txt(73), number), FormatTableText(Txt(74), number), Txt(75), permanent);
}

int TvrqDialog::ConfirmDeleteFolder(const std::string& name, bool& permanent) {
    std::string folder = WithoutFinalDelimiter(name);
    return AskDelete(FormatTableText(Txt(76), folder), FormatTableText(Txt(77), folder), Txt(78), permanent);
}

int TvrqDialog::ConfirmReplaceFile(const std::string& name) {
    TvrqQuestion question;
    question.Kind = TvrqQuestionKind::YesNoBox;
    question.Caption = Txt(80);
    question.Text = FormatTableText(Txt(79), name);
    return Ask(question);
}

int TvrqDialog::ConfirmReplaceFileAll(const std::string& name) {
    return AskOverwrite(Txt(80), FormatTableText(Txt(79), WithoutFinalDelimiter(name)));
}

int TvrqDialog::ConfirmReplaceFolder(const std::string& name) {
    return AskOverwrite(Txt(82), FormatTableText(Txt(81), WithoutFinalDelimiter(name)));
}

int TvrqDialog::AskNewFolderName(std::string& name) {
    TvrqQuestion question;
    question.Kind = TvrqQuestionKind::NewFolderForm;
    question.Caption = Txt(1);
    question.Name = name;
    int result = Ask(question);
    if (result == mrOk)
        name = question.Name;
    return result;
}

void TvrqDialog::ShowWarning(const std::string& caption, const std::string& text) {
    TvrqQuestion question;
    question.Kind = TvrqQuestionKind::WarningBox;
    question.Caption = caption;
    question.Text = text;
    Ask(question);
}

bool TvrqDialog::IsFinalAnswer(int code) {
    return code == mrCancel || code == mrAbort || code == mrAll || code == mrNoToAll ||
           code == mrYesToAll;
}

bool TvrqDialog::IsPositiveAnswer(int code) {
    return code == mrOk || code == mrYes || code == mrAll || code == mrYesToAll;
}

std::string TvrqDialog::ButtonCaption(int code) {
    switch (code) {
    case mrOk: return Txt(9);
    case mrCancel:
    case mrAbort: return Txt(13);
    case mrYes: return Txt(10);
    case mrNo: return Txt(12);
    case mrYesToAll: return Txt(11);
    default: return std::string();
    }
}

int TvrqDialog::MapMessageBoxResult(int result) {
    switch (result) {
    case IDOK:
    case IDABORT:
    case IDYES:
    case IDNO: return result;
    default: return mrCancel;
    }
}
