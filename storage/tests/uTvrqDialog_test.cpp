// The dialog service through its answer seam: which question each operation asks, with which texts,
// and how the answers and the permanent flag come back.
#include "uGLBConst.h"
#include "uTvrqDialog.h"

#include <gtest/gtest.h>

namespace {

struct Language {
    explicit Language(int index) { SetLanguage(index); }
    ~Language() { SetLanguage(0); }
};

TEST(TvrqDialogAnswers, FinalAndPositiveCodes) {
    struct Case { int code; bool final_, positive; };
    const Case cases[] = {{0, false, false}, {1, false, true}, {2, true, false},
                          {3, true, false}, {4, false, false}, {5, false, false},
                          {6, false, true}, {7, false, false}, {8, true, true},
                          {9, true, false}, {10, true, true}, {11, false, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(TvrqDialog::IsFinalAnswer(c.code), c.final_) << c.code;
        EXPECT_EQ(TvrqDialog::IsPositiveAnswer(c.code), c.positive) << c.code;
    }
}

TEST(TvrqDialogAnswers, ButtonCaptionsInBothLanguages) {
    struct Case { int code; const char* german; const char* english; };
    const Case cases[] = {{1, "&Ok", "&Ok"}, {2, "Ab&brechen", "&Cancel"},
                          {3, "Ab&brechen", "&Cancel"}, {6, "&Ja", "&Yes"},
                          {7, "&Nein", "&No"}, {10, "Ja, &alle", "Yes &all"},
                          {0, "", ""}, {8, "", ""}, {9, "", ""}};
    for (const Case& c : cases) {
        {
            Language german(0);
            EXPECT_EQ(TvrqDialog::ButtonCaption(c.code), c.german) << c.code;
        }
        Language english(1);
        EXPECT_EQ(TvrqDialog::ButtonCaption(c.code), c.english) << c.code;
    }
}

TEST(TvrqDialogAnswers, MessageBoxResults) {
    for (int result = -1; result <= 12; ++result) {
        bool stays = result == IDOK || result == IDABORT || result == IDYES || result == IDNO;
        EXPECT_EQ(TvrqDialog::MapMessageBoxResult(result), stays ? result : mrCancel) << result;
    }
}

TEST(TvrqDialogQuestions, DeleteFileAlreadyPermanentAsksABoxAndKeepsTheFlag) {
    TvrqScriptedAnswers script({mrNo});
    TvrqDialog dialog;
    bool permanent = true;
    EXPECT_EQ(dialog.ConfirmDeleteFile("Bericht.txt", permanent), mrNo);
    EXPECT_TRUE(permanent);
    ASSERT_EQ(script.Asked.size(), 1u);
    EXPECT_EQ(script.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
    EXPECT_EQ(script.Asked[0].Caption, "Löschen von Dateien bestätigen");
    EXPECT_EQ(script.Asked[0].Text, "Möchten Sie \"Bericht.txt\" wirklich löschen?");
}

TEST(TvrqDialogQuestions, DeleteFormGivesTheRadioChoice) {
    TvrqScriptedAnswers script({{mrYes, true}, {mrNo}});
    TvrqDialog dialog;
    bool permanent = false;
    EXPECT_EQ(dialog.ConfirmDeleteFile("a.txt", permanent), mrYes);
    EXPECT_TRUE(permanent);
    permanent = false;
    EXPECT_EQ(dialog.ConfirmDeleteFile("a.txt", permanent), mrNo);
    EXPECT_FALSE(permanent);
    ASSERT_EQ(script.Asked.size(), 2u);
    EXPECT_EQ(script.Asked[0].Kind, TvrqQuestionKind::DeleteForm);
    EXPECT_EQ(script.Asked[0].Text,
              "Möchten Sie \"a.txt\" in den Ordner \"Gelöschte Dateien\" verschieben\r\n"
              "oder unwiderruflich löschen?");
}

TEST(TvrqDialogQuestions, DeleteItemsAndFoldersInEnglish) {
    Language english(1);
    TvrqScriptedAnswers script({{mrYes}, {mrYes}, {mrYes}, {mrYes}});
    TvrqDialog dialog;
    bool permanent = true;
    dialog.ConfirmDeleteItems(12, permanent);
    permanent = false;
    dialog.ConfirmDeleteItems(3, permanent);
    permanent = true;
    dialog.ConfirmDeleteFolder("Fotos\\Urlaub\\", permanent);
    permanent = false;
    dialog.ConfirmDeleteFolder("Urlaub\\", permanent);
    ASSERT_EQ(script.Asked.size(), 4u);
    EXPECT_EQ(script.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
    EXPECT_EQ(script.Asked[0].Caption, "Confirm deletion of multiple files.");
    EXPECT_EQ(script.Asked[0].Text, "Delete these 12 elements?");
    EXPECT_EQ(script.Asked[1].Kind, TvrqQuestionKind::DeleteForm);
    EXPECT_EQ(script.Asked[1].Text,
              "Should these 3 elements in the folder \"Gelöschte Dateien\" be moved,\r\n"
              "or deleted permanently?");
    EXPECT_EQ(script.Asked[2].Caption, "Confirm deletion of folders");
    EXPECT_EQ(script.Asked[2].Text, "Do you really want to delete \"Fotos\\Urlaub\"?");
    EXPECT_EQ(script.Asked[3].Kind, TvrqQuestionKind::DeleteForm);
    EXPECT_EQ(script.Asked[3].Text,
              "Should the folder \"Urlaub\" be deleted and its\r\n"
              "contents moved to the folder \"Gelöschte Dateien\"\r\n"
              "or should it be deleted permanently?");
}

TEST(TvrqDialogQuestions, ReplaceQuestions) {
    TvrqScriptedAnswers script({{mrYes}, {mrYesToAll}, {mrCancel}});
    TvrqDialog dialog;
    EXPECT_EQ(dialog.ConfirmReplaceFile("a.txt"), mrYes);
    EXPECT_EQ(dialog.ConfirmReplaceFileAll("b.txt\\"), mrYesToAll);
    EXPECT_EQ(dialog.ConfirmReplaceFolder("Fotos\\"), mrCancel);
    ASSERT_EQ(script.Asked.size(), 3u);
    EXPECT_EQ(script.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
    EXPECT_EQ(script.Asked[0].Caption, "Ersetzen von Dateien bestätigen");
    EXPECT_EQ(script.Asked[0].Text,
              "Dieser Ordner enthält bereits eine Datei \"a.txt\".\r\n\r\n"
              "Möchten Sie die existierende Datei mit dieser ersetzen?");
    EXPECT_EQ(script.Asked[1].Kind, TvrqQuestionKind::OverwriteForm);
    EXPECT_EQ(script.Asked[1].Caption, "Ersetzen von Dateien bestätigen");
    EXPECT_NE(script.Asked[1].Text.find("\"b.txt\"."), std::string::npos);
    EXPECT_EQ(script.Asked[2].Kind, TvrqQuestionKind::OverwriteForm);
    EXPECT_EQ(script.Asked[2].Caption, "Ersetzen von Ordnern bestätigen");
    EXPECT_EQ(script.Asked[2].Text.substr(0, 45), "Dieser Ordner enthält einen Ordner \"Fotos\". ");
}

TEST(TvrqDialogQuestions, NamesAreNeverReadAsFormats) {
    TvrqScriptedAnswers script({{mrYes}, {mrYes}});
    TvrqDialog dialog;
    bool permanent = true;
    dialog.ConfirmDeleteFile("100%s %d %n.txt", permanent);
    dialog.ConfirmReplaceFile("%");
    EXPECT_EQ(script.Asked[0].Text, "Möchten Sie \"100%s %d %n.txt\" wirklich löschen?");
    EXPECT_NE(script.Asked[1].Text.find("Datei \"%\"."), std::string::npos);
}

TEST(TvrqDialogQuestions, NewFolderNameOnlyOnOk) {
    TvrqScriptedAnswers script({{mrOk, false, "Projekte 2024"}, {mrCancel, false, "ignored"}});
    TvrqDialog dialog;
    std::string name = "Neuer Ordner";
    EXPECT_EQ(dialog.AskNewFolderName(name), mrOk);
    EXPECT_EQ(name, "Projekte 2024");
    EXPECT_EQ(dialog.AskNewFolderName(name), mrCancel);
    EXPECT_EQ(name, "Projekte 2024");
    ASSERT_EQ(script.Asked.size(), 2u);
    EXPECT_EQ(script.Asked[0].Kind, TvrqQuestionKind::NewFolderForm);
    EXPECT_EQ(script.Asked[0].Caption, "Neuer Ordner");
    EXPECT_EQ(script.Asked[0].Name, "Neuer Ordner");
}

// A batch as the callers run it: the answer starts at Yes, is asked again while not final, and an
// item is carried out when the answer is positive.
TEST(TvrqDialogQuestions, ABatchAsksUntilTheAnswerIsFinal) {
    TvrqScriptedAnswers script({{mrNo}, {mrYes}, {mrYesToAll}});
    TvrqDialog dialog;
    dialog.ShowWarning("Fehler", "something the user is told");
    std::vector<bool> done;
    int answer = mrYes;
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
        if (!TvrqDialog::IsFinalAnswer(answer))
            answer = dialog.ConfirmReplaceFileAll(name);
        done.push_back(TvrqDialog::IsPositiveAnswer(answer));
    }
    EXPECT_EQ(done, (std::vector<bool>{false, true, true, true, true}));
    EXPECT_EQ(script.Used, 3u);
    ASSERT_EQ(script.Asked.size(), 4u);   // the warning and three questions
    EXPECT_EQ(script.Asked[0].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_EQ(script.Asked[0].Text, "something the user is told");
    // Beyond the script every question is answered as a closed window.
    EXPECT_EQ(dialog.ConfirmReplaceFile("6.txt"), mrCancel);
}

}  // namespace
