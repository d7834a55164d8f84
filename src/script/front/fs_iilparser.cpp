#include "script/front/fs_iilparser.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>

#include "script/runtime/fs_errors.h"

namespace pt {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = LowerAscii(c);
    return r;
}

// ---- Language registry ------------------------------------------------------------------------

struct LanguageRegistry {
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> languages;
};

LanguageRegistry& Languages() {
    static LanguageRegistry registry;
    return registry;
}

const char* const kCRLF = "\r\n";

} // namespace

void RegisterLanguage(std::string_view name, std::string_view grammar) {
    LanguageRegistry& r = Languages();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto& entry : r.languages)
        if (SameText(entry.first, name)) {
            entry.second = std::string(grammar);
            return;
        }
    r.languages.emplace_back(std::string(name), std::string(grammar));
}

std::string LanguageGrammar(std::string_view name) {
    LanguageRegistry& r = Languages();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const auto& entry : r.languages)
        if (SameText(entry.first, name)) return entry.second;
    RaiseError("Language '" + std::string(name) + "' not found");
}

std::vector<std::string> LanguageNames() {
    LanguageRegistry& r = Languages();
    std::lock_guard<std::mutex> guard(r.lock);
    std::vector<std::string> names;
    for (const auto& entry : r.languages) names.push_back(entry.first);
    return names;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        lines.emplace_back(text.substr(start, i - start));
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size() && text[i] == '\n') ++i;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    size_t size = 0;
    for (const auto& l : lines) size += l.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& l : lines) {
        text += l;
        text += kCRLF;
    }
    return text;
}

// ---- Compiled grammar -------------------------------------------------------------------------

enum class TfsILParser::Kind : unsigned char {
    Rule, // a rule definition: its children run as a sequence
    Char,
    Keyword,
    Ident,
    Number,
    String,
    FrString,
    Eol,
    Sequence,
    Switch,
    OptionalSwitch,
    Loop,
    OptionalLoop,
    Optional,
    Reference,
};

struct TfsILParser::Element {
    Kind kind = Kind::Sequence;
    bool isRule = false;
    bool skipBlanks = true;   // char: skip="0" turns blank skipping off
    bool loopForgive = false; // loop: skip="1"
    bool term = false;
    bool hasErr = false;
    std::string text;       // lower case
    std::string node;       // lower case
    std::string add;        // leaf element name, as written
    std::string addText;    // escaped, ready for output
    std::string errMessage; // resolved from the grammar's errors table
    std::string refName;    // lower-case rule name of a reference
    const Element* target = nullptr;
    std::vector<const Element*> children;
};

TfsILParser::TfsILParser(TfsILOwner& owner) : owner_(owner) {}

TfsILParser::TfsILParser(TfsScript& script)
    : scriptOwner_(std::make_unique<TfsScriptILOwner>(script)), owner_(*scriptOwner_),
      script_(&script) {}

TfsILParser::~TfsILParser() = default;

void TfsILParser::SelectLanguage(std::string_view languageName) {
    scanner_.ResetSettings();
    languageName_ = std::string(languageName);
    needDeclareVars_ = true;

    grammar_.LoadFromString(LanguageGrammar(languageName));

    TfsXMLItem* parser = grammar_.Root()->FindItem("parser");
    TfsXMLItem* keywords = parser->FindItem("keywords");
    for (int i = 0; i < keywords->Count(); ++i) scanner_.AddKeyword(keywords->Items(i)->Name);
    for (int i = 0; i < parser->Count(); ++i) {
        const TfsXMLItem* setting = parser->Items(i);
        std::string key = Lower(setting->Name);
        std::string value = setting->Prop("text");
        if (key == "declarevars") {
            if (value == "0") needDeclareVars_ = false;
        } else if (key != "keywords" && key != "errors") {
            scanner_.ApplySetting(key, value);
        }
    }
    if (owner_.ExtendedCharset()) scanner_.AddExtendedCharset();
    CompileGrammar();
}

void TfsILParser::CompileGrammar() {
    pool_.clear();
    rules_.clear();
    TfsXMLItem* root = grammar_.Root();
    for (int i = 0; i < root->Count(); ++i) {
        Element* rule = CompileElement(*root->Items(i), true);
        rules_.emplace(Lower(root->Items(i)->Name), rule); // the first definition wins
    }
    for (auto& e : pool_)
        if (e->kind == Kind::Reference) e->target = FindRule(e->refName);
}

TfsILParser::Element* TfsILParser::CompileElement(const TfsXMLItem& item, bool isRule) {
    pool_.push_back(std::make_unique<Element>());
    Element* e = pool_.back().get();
    e->isRule = isRule;
    const std::string name = Lower(item.Name);
    if (isRule)
        e->kind = Kind::Rule;
    else if (name == "char")
        e->kind = Kind::Char;
    else if (name == "keyword")
        e->kind = Kind::Keyword;
    else if (name == "ident")
        e->kind = Kind::Ident;
    else if (name == "number")
        e->kind = Kind::Number;
    else if (name == "string")
        e->kind = Kind::String;
    else if (name == "frstring")
        e->kind = Kind::FrString;
    else if (name == "eol")
        e->kind = Kind::Eol;
    else if (name == "sequence")
        e->kind = Kind::Sequence;
    else if (name == "switch")
        e->kind = Kind::Switch;
    else if (name == "optionalswitch")
        e->kind = Kind::OptionalSwitch;
    else if (name == "loop")
        e->kind = Kind::Loop;
    else if (name == "optionalloop")
        e->kind = Kind::OptionalLoop;
    else if (name == "optional")
        e->kind = Kind::Optional;
    else {
        e->kind = Kind::Reference;
        e->refName = name;
    }

    e->text = Lower(item.Prop("text"));
    e->node = Lower(item.Prop("node"));
    e->add = item.Prop("add");
    e->addText = EscapeValue(item.Prop("addtext"));
    const std::string skip = item.Prop("skip");
    e->skipBlanks = skip != "0";
    e->loopForgive = skip == "1";
    e->term = item.Prop("term") == "1";
    const std::string err = item.Prop("err");
    if (!err.empty()) {
        e->hasErr = true;
        TfsXMLItem* errors = grammar_.Root()->FindItem("parser")->FindItem("errors");
        int index = errors->Find(err);
        if (index >= 0) e->errMessage = errors->Items(index)->Prop("text");
    }
    for (int i = 0; i < item.Count(); ++i)
        e->children.push_back(CompileElement(*item.Items(i), false));
    return e;
}

const TfsILParser::Element* TfsILParser::FindRule(std::string_view lowerName) const {
    auto it = rules_.find(std::string(lowerName));
    return it == rules_.end() ? nullptr : it->second;
}

// ---- MakeIL -------------------------------------------------------------------------------

namespace {

// Thrown when element nesting passes the limit; MakeIL turns it into a recorded error.
struct NestingTooDeep {};

class DepthGuard {
public:
    explicit DepthGuard(int& depth) : depth_(depth) {
        if (++depth_ > TfsILParser::kMaxNesting) {
            --depth_;
            throw NestingTooDeep{};
        }
    }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& depth_;
};

const char* const kNestingTooDeep = "Nesting too deep";

} // namespace

bool TfsILParser::MakeIL(std::string_view text) {
    lines_.clear();
    arena_.clear();
    errorText_.clear();
    errorPos_.clear();
    errorForgivable_ = false;
    errorFatal_ = false;
    if (unitName_.empty()) owner_.SetErrorUnitName("");
    scanner_.SetText(text);

    // A language directive "#language Name" counts only at the very first byte.
    int start = 1;
    scanner_.SetPosition(1);
    if (scanner_.ReadPunctuation() == "#" && SameText(scanner_.ReadIdentifier(), "language")) {
        const std::string_view src = scanner_.Text();
        const size_t from = static_cast<size_t>(scanner_.Position() - 1);
        size_t cr = src.find('\r', from);
        size_t to = cr == std::string_view::npos ? src.size() : cr;
        size_t b = from, e = to;
        while (b < e && static_cast<unsigned char>(src[b]) <= 32) ++b;
        while (e > b && static_cast<unsigned char>(src[e - 1]) <= 32) --e;
        SelectLanguage(src.substr(b, e - b));
        start = cr == std::string_view::npos ? scanner_.Size() + 1 : static_cast<int>(cr) + 3;
    }
    scanner_.SetPosition(start);
    // Settings are final now (a directive may have changed them).
    skipped_.assign(static_cast<size_t>(scanner_.Size()) + 2, 0);

    const Element* program = FindRule("program");
    if (!program) RaiseError("Invalid language definition");
    bool matched = false;
    try {
        matched = Match(*program);
    } catch (const NestingTooDeep&) {
        if (errorText_.empty() || errorForgivable_) {
            errorText_ = kNestingTooDeep;
            errorPos_ = scanner_.PositionText(SkippedFrom(scanner_.Position()));
        }
        matched = false;
    }

    bool ok = false;
    if (matched && errorText_.empty()) {
        std::string xml;
        xml.reserve(arena_.size() + 2 * lines_.size() + 64);
        xml += "<?xml version=\"1.0\"?>\r\n<program>\r\n";
        for (const Span& line : lines_) {
            xml.append(arena_, line.offset, line.size);
            xml += kCRLF;
        }
        xml += "</program>";
        il_.LoadFromString(xml);
        il_.Root()->Add()->CopyFrom(grammar_.Root()->FindItem("types"));
        ok = true;
    } else {
        // No stale program from an earlier parse is left for a builder to find.
        il_.Root()->Clear();
        il_.Root()->Name.clear();
        il_.Root()->Text.clear();
    }
    lines_.clear();
    arena_.clear();
    skipped_.clear();
    owner_.SetErrorLocation(errorPos_);
    owner_.SetErrorText(errorText_);
    return ok;
}

bool TfsILParser::TokenEquals(const std::string& token, const std::string& lowerText) const {
    return scanner_.CaseSensitive() ? token == lowerText : SameText(token, lowerText);
}

bool TfsILParser::FirstCharMayMatch(unsigned char c, char lowerFirst) const {
    const char ch = static_cast<char>(c);
    return scanner_.CaseSensitive() ? ch == lowerFirst : LowerAscii(ch) == lowerFirst;
}

void TfsILParser::AppendLine(std::initializer_list<std::string_view> parts) {
    const size_t start = arena_.size();
    for (std::string_view part : parts) arena_ += part;
    lines_.push_back({start, arena_.size() - start});
}

void TfsILParser::AppendPosition(int p) {
    int line = 0, column = 0;
    scanner_.LineAndColumn(p, line, column);
    char buf[16];
    arena_.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, line).ptr - buf));
    arena_ += ':';
    arena_.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, column).ptr - buf));
}

int TfsILParser::SkippedFrom(int p) {
    int& slot = skipped_[static_cast<size_t>(p)];
    if (slot == 0) {
        scanner_.SetPosition(p);
        scanner_.SkipBlanks();
        slot = scanner_.Position();
    }
    return slot;
}

bool TfsILParser::Match(const Element& e) {
    DepthGuard guard(depth_);
    const int savedPos = scanner_.Position();
    size_t savedLines = lines_.size();
    std::string token;
    bool terminal = false;
    bool matched = true;

    switch (e.kind) {
    case Kind::Rule:
    case Kind::Sequence:
        break;
    // Terminals look at the first byte of the token before asking the scanner: most
    // alternatives fail there, and a read that cannot match is skipped (the position is put
    // back on failure anyway).
    case Kind::Char: {
        const int q = e.skipBlanks ? SkippedFrom(savedPos) : savedPos;
        scanner_.SetPosition(q);
        if (e.text.empty() || (e.text.size() == 1 && scanner_.CharAt(q) == e.text[0]))
            token = scanner_.ReadPunctuation();
        terminal = true;
        break;
    }
    case Kind::Keyword:
    case Kind::Ident: {
        const int q = SkippedFrom(savedPos);
        scanner_.SetPosition(q);
        const unsigned char c = static_cast<unsigned char>(scanner_.CharAt(q));
        if (scanner_.IsIdentChar(c) && !(c >= '0' && c <= '9') &&
            (e.text.empty() || FirstCharMayMatch(c, e.text[0])))
            token = e.kind == Kind::Keyword ? scanner_.ReadWord() : scanner_.ReadIdentifier();
        terminal = true;
        break;
    }
    case Kind::Number: {
        const int q = SkippedFrom(savedPos);
        scanner_.SetPosition(q);
        const char c = scanner_.CharAt(q);
        const std::string& hex = scanner_.HexSequence();
        if ((c >= '0' && c <= '9') ||
            (!hex.empty() && scanner_.Text().substr(static_cast<size_t>(q - 1), hex.size()) == hex))
            token = scanner_.ReadNumber();
        terminal = true;
        break;
    }
    case Kind::String: {
        const int q = SkippedFrom(savedPos);
        scanner_.SetPosition(q);
        const char c = scanner_.CharAt(q);
        if (c == '#' || (c != '\0' && c == scanner_.StringQuote())) token = scanner_.ReadString();
        terminal = true;
        break;
    }
    case Kind::FrString: {
        // "<text>" in an expression becomes a call Get('text'); the lines stay even when the
        // text is empty and the element fails.
        token = scanner_.ReadBracketed();
        const std::string p = "\"" + scanner_.PositionText() + "\"";
        AppendLine({"<dsgn pos=", p, ">"});
        AppendLine({"<node text=\"Get\" pos=", p, "/>"});
        AppendLine({"<expr pos=", p, ">"});
        AppendLine({"<string text=\"'", EscapeValue(token), "'\" pos=", p, "/>"});
        AppendLine({"</expr>"});
        AppendLine({"</dsgn>"});
        terminal = true;
        break;
    }
    case Kind::Eol:
        matched = scanner_.ReadLineEnd();
        break;
    case Kind::Switch:
    case Kind::OptionalSwitch:
        // Every alternative starts from the same position, whatever the previous one left.
        for (const Element* child : e.children) {
            scanner_.SetPosition(savedPos);
            if (Match(*child)) return true;
        }
        scanner_.SetPosition(savedPos);
        if (e.kind == Kind::OptionalSwitch) return true;
        RecordError(e, savedPos);
        return false;
    case Kind::Loop:
    case Kind::OptionalLoop:
        return MatchLoop(e, savedPos);
    case Kind::Optional:
        for (const Element* child : e.children)
            if (!Match(*child)) {
                scanner_.SetPosition(savedPos);
                break;
            }
        return true;
    case Kind::Reference:
        if (!e.target) RaiseError("Invalid language definition");
        matched = Match(*e.target);
        break;
    }

    if (terminal) matched = !token.empty() && (e.text.empty() || TokenEquals(token, e.text));

    bool result = matched;
    if (!matched) {
        RecordError(e, savedPos);
    } else {
        if (!e.isRule) EmitNode(e, true, savedPos, savedLines);
        if (!e.add.empty()) {
            const size_t start = arena_.size();
            arena_ += '<';
            arena_ += e.add;
            arena_ += " text=\"";
            arena_ += e.addText.empty() ? EscapeValue(token) : e.addText;
            arena_ += "\" pos=\"";
            AppendPosition(scanner_.Position());
            arena_ += "\"/>";
            lines_.push_back({start, arena_.size() - start});
        }
        for (const Element* child : e.children)
            if (!Match(*child)) {
                result = false;
                break;
            }
    }
    if (!result) scanner_.SetPosition(savedPos);
    if (e.isRule) EmitNode(e, result, savedPos, savedLines);
    return result;
}

bool TfsILParser::MatchLoop(const Element& e, int savedPos) {
    int passes = 0;
    int endPos = savedPos;
    bool passResult = false;
    for (;;) {
        ++passes;
        const int passStart = scanner_.Position();
        passResult = true;
        for (const Element* child : e.children)
            if (!Match(*child)) {
                passResult = false;
                break;
            }
        endPos = scanner_.Position();
        if (!passResult) break;
        if (!e.text.empty()) {
            scanner_.SkipBlanks();
            if (scanner_.ReadPunctuation() != e.text) {
                scanner_.SetPosition(endPos);
                break;
            }
        }
        if (scanner_.Position() == passStart) break; // no progress
    }

    bool result = passResult;
    if (passes >= 2) {
        if (!errorFatal_ && (e.loopForgive || errorForgivable_)) {
            errorText_.clear();
            errorPos_.clear();
            errorForgivable_ = false;
        }
        scanner_.SetPosition(endPos);
        result = true;
    }
    if (!result && e.kind == Kind::OptionalLoop) {
        scanner_.SetPosition(savedPos);
        result = true;
    }
    return result;
}

void TfsILParser::RecordError(const Element& e, int savedPos) {
    if (!e.hasErr || !errorText_.empty() || e.errMessage.empty()) return;
    const int current = scanner_.Position();
    errorPos_ = scanner_.PositionText(SkippedFrom(savedPos));
    scanner_.SetPosition(current);
    errorText_ = e.errMessage;
    errorForgivable_ = e.term;
}

void TfsILParser::EmitNode(const Element& e, bool success, int savedPos, size_t& savedLines) {
    if (e.node.empty()) return;
    if (e.node == "uses") {
        // The clause's file leaves are replaced by the units they name, last name first.
        while (lines_.size() > savedLines) {
            const Span last = lines_.back();
            const std::string line = arena_.substr(last.offset, last.size);
            lines_.pop_back();
            const size_t open = line.find("text=\"");
            if (open == std::string::npos) continue;
            std::string name = line.substr(open + 6);
            const size_t close = name.find("\" ");
            if (close != std::string::npos) name.erase(close);
            if (name.size() < 2) continue;
            IncludeUnit(name.substr(1, name.size() - 2), savedLines);
        }
        return;
    }
    if (!success) {
        lines_.resize(savedLines);
        return;
    }
    const int current = scanner_.Position();
    const size_t start = arena_.size();
    arena_ += '<';
    arena_ += e.node;
    arena_ += " pos=\"";
    AppendPosition(SkippedFrom(savedPos));
    scanner_.SetPosition(current);
    if (e.node == "expr") {
        arena_ += "\" pos1=\"";
        AppendPosition(current);
    }
    arena_ += "\">";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(savedLines),
                  Span{start, arena_.size() - start});
    AppendLine({"</", e.node, ">"});
}

void TfsILParser::IncludeUnit(const std::string& name, size_t& savedLines) {
    for (const auto& unit : included_)
        if (SameText(unit, name)) return;
    included_.push_back(name);

    const std::vector<std::string> unitLines = SplitLines(ReadUnitText(name));
    std::string unitIL;
    if (!unitLines.empty()) {
        TfsILParser nested(owner_);
        nested.script_ = script_;
        nested.SetUnitName(name);
        nested.depth_ = depth_;
        nested.SelectLanguage(languageName_);
        nested.included_ = included_;
        if (nested.MakeIL(JoinLines(unitLines))) {
            included_ = nested.included_;
            unitIL = nested.il_.SaveToString();
            const size_t header = unitIL.find("?>");
            if (header != std::string::npos) unitIL.erase(0, header + 2);
        } else {
            // The unit's error replaces any error of this text and is never forgiven.
            if (!owner_.ErrorText().empty()) {
                errorText_ = owner_.ErrorText();
                errorPos_ = owner_.ErrorLocation();
                errorForgivable_ = false;
                errorFatal_ = true;
                if (owner_.ErrorUnitName().empty()) owner_.SetErrorUnitName(name);
            }
        }
    }
    AppendLine({"<uses unit=\"", name, "\">"});
    AppendLine({unitIL});
    AppendLine({"</uses>"});
    // The three new lines move from the end to the rule's start.
    std::rotate(lines_.begin() + static_cast<std::ptrdiff_t>(savedLines), lines_.end() - 3,
                lines_.end());
    savedLines += 3;
}

std::string TfsILParser::ReadUnitText(const std::string& name) {
    std::string text;
    if (owner_.GetUnit(name, text)) return text;

    namespace fs = std::filesystem;
    std::string path = name;
    for (const std::string& entry : owner_.IncludePath()) {
        path = entry;
        if (!path.empty() && path.back() != '/') path += '/';
        path += name;
        std::error_code ec;
        if (fs::is_regular_file(path, ec)) break;
    }
    // Only regular files are read: a device or a folder named as a unit must not hang the
    // compilation or exhaust memory.
    auto fail = [&](const std::string& why) {
        RaiseError("EFOpenError", "Cannot open file \"" + path + "\". " + why);
    };
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) fail(ec.message());
    if (!fs::is_regular_file(status)) fail("Not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) fail(std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) RaiseError("EReadError", "Cannot read file \"" + path + "\"");
    return content.str();
}

} // namespace pt
