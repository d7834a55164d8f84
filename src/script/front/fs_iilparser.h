// TfsILParser: the grammar-driven front end shared by every script language, and the
// process-wide language registry.
//
// A language is an XML grammar text. SelectLanguage loads it, configures the scanner from its
// `parser` section and compiles its rules into a small element tree; MakeIL interprets that
// tree over the source text (recursive descent, alternatives in written order, the scanner
// position put back when an element fails) and produces the intermediate program: an XML
// document whose element names come from the grammar's `node` and `add` attributes.
//
// Invariants:
//  - While MakeIL runs, the intermediate program is a list of text lines. A failing rule
//    truncates the list back to the count it saw on entry; wrapping output in a node inserts
//    one opening line at that count and appends one closing line. The list is read into the
//    intermediate document once, at the end.
//  - Only the first recorded error counts; a loop that completed a pass may forgive it.
//    Errors of included units are never forgiven.
//  - Element nesting is bounded (kMaxNesting frames, shared with nested unit parsers), so a
//    deeply nested script ends with the error "Nesting too deep" instead of a stack overflow.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/front/fs_iparser.h"
#include "script/front/fs_xml.h"
#include "script/runtime/fs_iinterpreter.h"

namespace pt {

// ---- Language registry ------------------------------------------------------------------------
// One process-wide list of (language name, grammar text); names match case-insensitively.
// Registering a present name replaces its grammar.
void RegisterLanguage(std::string_view name, std::string_view grammar);
// Raises "Language '%s' not found" for a name that is not registered.
std::string LanguageGrammar(std::string_view name);
// Registered names in registration order.
std::vector<std::string> LanguageNames();

// ---- What the parser needs from the script it compiles for ----------------------------------
class TfsILOwner {
public:
    virtual ~TfsILOwner() = default;
    virtual bool ExtendedCharset() const = 0;
    // Folders searched for unit files, in order.
    virtual std::vector<std::string> IncludePath() const = 0;
    // The OnGetUnit hook: returns false when the script has none; otherwise fills text.
    virtual bool GetUnit(const std::string& unitName, std::string& text) = 0;

    virtual std::string ErrorText() const = 0;
    virtual std::string ErrorLocation() const = 0;
    virtual std::string ErrorUnitName() const = 0;
    virtual void SetErrorText(const std::string& text) = 0;
    virtual void SetErrorLocation(const std::string& location) = 0;
    virtual void SetErrorUnitName(const std::string& unitName) = 0;
};

// A plain owner for tools and tests: fields instead of a script object.
class TfsILOwnerData : public TfsILOwner {
public:
    bool extendedCharset = false;
    std::vector<std::string> includePath{""};
    // Unset: no OnGetUnit hook, units are read from files along includePath.
    std::function<std::string(const std::string& unitName)> onGetUnit;
    std::string errorText, errorLocation, errorUnitName;

    bool ExtendedCharset() const override { return extendedCharset; }
    std::vector<std::string> IncludePath() const override { return includePath; }
    bool GetUnit(const std::string& unitName, std::string& text) override {
        if (!onGetUnit) return false;
        text = onGetUnit(unitName);
        return true;
    }
    std::string ErrorText() const override { return errorText; }
    std::string ErrorLocation() const override { return errorLocation; }
    std::string ErrorUnitName() const override { return errorUnitName; }
    void SetErrorText(const std::string& t) override { errorText = t; }
    void SetErrorLocation(const std::string& l) override { errorLocation = l; }
    void SetErrorUnitName(const std::string& u) override { errorUnitName = u; }
};

// The owner script itself: its error fields, IncludePath, OnGetUnit and ExtendedCharset.
class TfsScriptILOwner : public TfsILOwner {
public:
    explicit TfsScriptILOwner(TfsScript& script) : script_(script) {}
    TfsScript& Script() const { return script_; }

    bool ExtendedCharset() const override { return script_.ExtendedCharset; }
    std::vector<std::string> IncludePath() const override { return script_.IncludePath; }
    bool GetUnit(const std::string& unitName, std::string& text) override {
        if (!script_.OnGetUnit) return false;
        script_.OnGetUnit(&script_, unitName, text);
        return true;
    }
    std::string ErrorText() const override { return script_.ErrorText; }
    std::string ErrorLocation() const override { return script_.ErrorLocation; }
    std::string ErrorUnitName() const override { return script_.ErrorUnitName; }
    void SetErrorText(const std::string& t) override { script_.ErrorText = t; }
    void SetErrorLocation(const std::string& l) override { script_.ErrorLocation = l; }
    void SetErrorUnitName(const std::string& u) override { script_.ErrorUnitName = u; }

private:
    TfsScript& script_;
};

// Splits a text into lines the way a line list loads it (CR LF, LF or CR end a line; a final
// line end adds no empty line), and joins lines with CR LF after every line, the last included.
std::vector<std::string> SplitLines(std::string_view text);
std::string JoinLines(const std::vector<std::string>& lines);

class TfsILParser {
public:
    // Element frames allowed on the stack during one MakeIL, nested unit parsers included:
    // about 250 nested parentheses, under 1 MB of stack (about 5 MB with AddressSanitizer).
    static constexpr int kMaxNesting = 2500;

    explicit TfsILParser(TfsILOwner& owner);
    // Parses for a script object (the usual case): the parser reads and fills its fields.
    explicit TfsILParser(TfsScript& script);
    ~TfsILParser();
    TfsILParser(const TfsILParser&) = delete;
    TfsILParser& operator=(const TfsILParser&) = delete;

    // May raise "Language '%s' not found".
    void SelectLanguage(std::string_view languageName);
    // Returns true when the intermediate document was produced; always sets the owner's
    // ErrorText and ErrorLocation (empty when nothing was recorded). Raises "Invalid language
    // definition" for a reference to a missing rule, and file errors of unit files.
    bool MakeIL(std::string_view text);

    // The intermediate program (the builder's input); its root is the `program` element.
    TfsXMLDocument& ILDocument() { return il_; }
    const TfsXMLDocument& ILDocument() const { return il_; }
    // The grammar document of the selected language.
    TfsXMLDocument& Grammar() { return grammar_; }
    // The scanner, holding the text parsed last (the builder maps positions through it).
    TfsParser& Scanner() { return scanner_; }
    TfsILOwner& Owner() { return owner_; }
    // The script when created for one (nested unit parsers share it); null otherwise.
    TfsScript* Script() const { return script_; }

    const std::string& LanguageName() const { return languageName_; }
    bool NeedDeclareVars() const { return needDeclareVars_; }
    // Empty for the main text; the unit file name for a nested unit parser.
    const std::string& UnitName() const { return unitName_; }
    void SetUnitName(std::string name) { unitName_ = std::move(name); }
    // Units included so far (shared with nested parsers by copying in and out).
    std::vector<std::string>& IncludedUnits() { return included_; }

private:
    struct Element;
    enum class Kind : unsigned char;

    void CompileGrammar();
    Element* CompileElement(const TfsXMLItem& item, bool isRule);
    const Element* FindRule(std::string_view lowerName) const;

    bool Match(const Element& e);
    bool MatchLoop(const Element& e, int savedPos);
    bool TokenEquals(const std::string& token, const std::string& lowerText) const;
    bool FirstCharMayMatch(unsigned char c, char lowerFirst) const;
    // Where blank skipping from p ends; the text is fixed during MakeIL, so it is cached.
    int SkippedFrom(int p);
    void RecordError(const Element& e, int savedPos);
    void EmitNode(const Element& e, bool success, int savedPos, size_t& savedLines);
    void IncludeUnit(const std::string& name, size_t& savedLines);
    std::string ReadUnitText(const std::string& name);

    std::unique_ptr<TfsScriptILOwner> scriptOwner_; // when created for a script
    TfsILOwner& owner_;
    TfsScript* script_ = nullptr;
    TfsParser scanner_;
    TfsXMLDocument grammar_;
    TfsXMLDocument il_;
    std::string languageName_;
    std::string unitName_;
    bool needDeclareVars_ = true;
    std::vector<std::string> included_;

    // Compiled grammar: every element owned by pool_; rules by lower-case name, first wins.
    std::vector<std::unique_ptr<Element>> pool_;
    std::unordered_map<std::string, const Element*> rules_;

    void AppendLine(std::initializer_list<std::string_view> parts);
    // Writes the line:column text of a position into the arena.
    void AppendPosition(int p);

    // State of one MakeIL. The output line list: line texts are written once into the arena
    // and never moved; the list holds their spans, so inserting or truncating lines moves
    // only spans.
    struct Span {
        size_t offset, size;
    };
    std::string arena_;
    std::vector<Span> lines_;
    std::string errorText_;
    std::string errorPos_;
    bool errorForgivable_ = false;
    bool errorFatal_ = false; // from an included unit: no loop forgives it
    int depth_ = 0;
    std::vector<int> skipped_; // by position; 0 = not computed yet
};

} // namespace pt
