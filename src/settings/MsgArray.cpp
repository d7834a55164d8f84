#include "settings/MsgArray.h"

#include <vector>

namespace pt {

constinit const std::array<std::string_view, 4> PluginMessageRecords = {
    "MsgCompile||\"%s\" script has been compiled successfully||||||D||||||||",
    "MsgExecErr||Unable to execute \"%s\" script: %s||||||D||||||||",
    "MsgDiscard||Data packet has been discarted||||||D||||||||",
    " ",
};

namespace {

constexpr int kFields = 9;

std::vector<std::string> SplitFields(std::string_view record) {
    std::vector<std::string> f;
    size_t i = 0;
    while (true) {
        size_t j = record.find("||", i);
        if (j == std::string_view::npos) {
            f.emplace_back(record.substr(i));
            break;
        }
        f.emplace_back(record.substr(i, j - i));
        i = j + 2;
    }
    if (f.size() < kFields) f.resize(kFields);
    return f;
}

std::string_view Trim(std::string_view s) noexcept {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string MapDontShow(const std::string& s) {
    return (s == "N" || s == "Y") ? s : "D";
}

TObject* ListOf(const TPersistent& o, TStringList& (TMsgArray::*get)()) {
    return &(const_cast<TMsgArray&>(static_cast<const TMsgArray&>(o)).*get)();
}

} // namespace

constinit const TPropInfo TMsgArray::PublishedProps[] = {
    TPropInfo{.Name = "MessagesArray",
              .Kind = tkClass,
              .PropClass = &TStrings::ClassInfo,
              .GetObj = [](const TPersistent& o) { return ListOf(o, &TMsgArray::MessagesArray); }},
    TPropInfo{.Name = "MessagesText",
              .Kind = tkClass,
              .PropClass = &TStrings::ClassInfo,
              .GetObj = [](const TPersistent& o) { return ListOf(o, &TMsgArray::MessagesText); }},
    TPropInfo{
        .Name = "MessagesCaption",
        .Kind = tkClass,
        .PropClass = &TStrings::ClassInfo,
        .GetObj = [](const TPersistent& o) { return ListOf(o, &TMsgArray::MessagesCaption); }},
    TPropInfo{
        .Name = "DontShowAgainText",
        .Kind = tkClass,
        .PropClass = &TStrings::ClassInfo,
        .GetObj = [](const TPersistent& o) { return ListOf(o, &TMsgArray::DontShowAgainText); }},
    TPropInfo{
        .Name = "LastDialogsResult",
        .Kind = tkClass,
        .PropClass = &TStrings::ClassInfo,
        .GetObj = [](const TPersistent& o) { return ListOf(o, &TMsgArray::LastDialogsResult); }},
    TPropInfo{.Name = "ButtonCaptions",
              .Kind = tkClass,
              .PropClass = &TStrings::ClassInfo,
              .GetObj = [](const TPersistent& o) { return ListOf(o, &TMsgArray::ButtonCaptions); }},
    Published<tkString, &TMsgArray::AgainCheckCaption>("AgainCheckCaption"),
    Published<tkString, &TMsgArray::InformationCaption>("InformationCaption"),
    Published<tkString, &TMsgArray::WarningCaption>("WarningCaption"),
    Published<tkString, &TMsgArray::ErrorCaption>("ErrorCaption"),
    Published<tkString, &TMsgArray::QuestionCaption>("QuestionCaption"),
    PublishedEnum<&TMsgArray::UseSystemCaptions>("UseSystemCaptions", BooleanType),
    TPropInfo{.Name = "OnHelp", .Kind = tkMethod},
    TPropInfo{.Name = "OnClose", .Kind = tkMethod},
    TPropInfo{.Name = "OnShow", .Kind = tkMethod},
    TPropInfo{.Name = "OnCustomButtonClick", .Kind = tkMethod},
    TPropInfo{.Name = "OnButtonCreate", .Kind = tkMethod},
};
constinit const TClassInfo TMsgArray::ClassInfo{"TMsgArray", &TComponent::ClassInfo,
                                                TMsgArray::PublishedProps};

TMsgArray::TMsgArray(TComponent* owner)
    : TComponent(owner), buttons_{"&Yes",       "&No",         "OK",      "Cancel",
                                  "&Abort",     "&Retry",      "&Ignore", "&All",
                                  "N&o to All", "Yes to &All", "&Help",   "Unknown"} {
    messages_.OnChange = [this](TStrings&) { ParseRecords(); };
    auto back = [this](TStrings&) { WriteBack(); };
    text_.OnChange = back;
    caption_.OnChange = back;
    dontShow_.OnChange = back;
    lastResult_.OnChange = back;
}

void TMsgArray::ParseRecords() {
    if (syncing_) return;
    syncing_ = true;
    for (TStringList* v : {&text_, &caption_, &dontShow_, &lastResult_}) {
        v->BeginUpdate();
        v->Clear();
    }
    index_.clear();
    for (int i = 0; i < messages_.Count(); ++i) {
        std::vector<std::string> f = SplitFields(messages_[i]);
        text_.Add(f[1]);
        caption_.Add(f[2]);
        dontShow_.Add(MapDontShow(f[4]));
        lastResult_.Add(f[7]);
        index_[Lower(Trim(f[0]))] = i; // a later record with the same identifier wins
    }
    for (TStringList* v : {&text_, &caption_, &dontShow_, &lastResult_}) v->EndUpdate();
    syncing_ = false;
}

void TMsgArray::WriteBack() {
    if (syncing_) return;
    syncing_ = true;
    messages_.BeginUpdate();
    auto viewAt = [](const TStringList& v, int i) { return i < v.Count() ? v[i] : std::string(); };
    index_.clear();
    for (int i = 0; i < messages_.Count(); ++i) {
        std::vector<std::string> f = SplitFields(messages_[i]);
        f[1] = viewAt(text_, i);
        f[2] = viewAt(caption_, i);
        f[4] = MapDontShow(viewAt(dontShow_, i));
        f[7] = viewAt(lastResult_, i);
        std::string rec;
        for (int k = 0; k < 8; ++k) rec += f[static_cast<size_t>(k)] + "||";
        messages_.Put(i, rec);
        index_[Lower(Trim(f[0]))] = i;
    }
    messages_.EndUpdate();
    syncing_ = false;
}

int TMsgArray::IndexOfMessage(std::string_view id) const {
    auto it = index_.find(Lower(Trim(id)));
    return it == index_.end() ? -1 : it->second;
}

std::string TMsgArray::MessageField(std::string_view id, int field) const {
    int i = IndexOfMessage(id);
    if (i < 0 || i >= messages_.Count())
        throw EMsgArrayError("Invalid message ID [" + std::string(id) + "]");
    std::string_view rec = messages_[i];
    size_t start = 0;
    for (int k = 0; k < field; ++k) {
        size_t j = rec.find("||", start);
        if (j == std::string_view::npos) return {};
        start = j + 2;
    }
    size_t end = rec.find("||", start);
    std::string text(Trim(rec.substr(start, end == std::string_view::npos ? end : end - start)));
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text.compare(k, 3, "%0D") == 0) {
            out += '\r';
            k += 2;
        } else if (text.compare(k, 3, "%0A") == 0) {
            out += '\n';
            k += 2;
        } else {
            out += text[k];
        }
    }
    return out;
}

} // namespace pt
