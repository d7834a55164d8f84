// The message table: log messages as records addressed by an identifier. A record is nine
// fields separated by "||" (0 identifier, 1 text, 2 caption, 4 don't-ask-again state "N", "Y"
// or "D", 7 last dialog result; 3, 5 and 6 carried unchanged, 8 dropped on rebuild).
// MessagesText, MessagesCaption, DontShowAgainText and LastDialogsResult are views of fields
// 1, 2, 4 and 7 of every record; the views and the identifier index follow MessagesArray at
// all times, and a change of a view is written back into the records.
// The table has no lock: it is filled when the plug-in's data module is created and only
// read afterwards (a translation rewrites it while no packet runs).
#pragma once

#include <array>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/Classes.h"

namespace pt {

class EMsgArrayError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The plug-in's records: MsgCompile, MsgExecErr, MsgDiscard and a record holding a blank.
extern const std::array<std::string_view, 4> PluginMessageRecords;

using TMessageEvent =
    std::function<void(TObject& sender, int messageIdx, const std::string& messageID)>;
using TMessageButtonCreate = std::function<void(TObject& sender, int messageIdx,
                                                const std::string& messageID, TObject* button)>;

class TMsgArray : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    explicit TMsgArray(TComponent* owner = nullptr);

    TStringList& MessagesArray() noexcept { return messages_; }
    TStringList& MessagesText() noexcept { return text_; }
    TStringList& MessagesCaption() noexcept { return caption_; }
    TStringList& DontShowAgainText() noexcept { return dontShow_; }
    TStringList& LastDialogsResult() noexcept { return lastResult_; }
    TStringList& ButtonCaptions() noexcept { return buttons_; }

    std::string AgainCheckCaption = "Do not ask me again";
    std::string InformationCaption = "Information";
    std::string WarningCaption = "Warning";
    std::string ErrorCaption = "Error";
    std::string QuestionCaption = "Question";
    bool UseSystemCaptions = false;
    TMessageEvent OnHelp, OnClose, OnShow;
    TMessageButtonCreate OnCustomButtonClick, OnButtonCreate;

    // Field 1 of the record; raises EMsgArrayError "Invalid message ID [<id>]".
    std::string MessageText(std::string_view id) const { return MessageField(id, 1); }
    // Field n (from 0), trimmed, with "%0D" and "%0A" turned into CR and LF.
    std::string MessageField(std::string_view id, int field) const;
    // Record number of an identifier (without regard to case); -1 when none.
    int IndexOfMessage(std::string_view id) const;

private:
    void ParseRecords();
    void WriteBack();

    TStringList messages_, text_, caption_, dontShow_, lastResult_, buttons_;
    std::map<std::string, int> index_; // lower-cased identifier -> record number
    bool syncing_ = false;
};

} // namespace pt
