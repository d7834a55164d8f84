#include "script/runtime/fs_prototype.h"

#include "common/Classes.h"
#include "script/front/fs_iparser.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_iinterpreter.h"

#include <cstdint>
#include <limits>

namespace pt {

namespace {

struct Token {
    enum Kind : uint8_t { End, Ident, Number, String, Punct } kind = End;
    std::string text;  // identifier, number or punctuation text
    std::string value; // string literal contents (quotes resolved)
};

class Reader {
public:
    Reader(std::string_view text, const TfsScript* scope) : text_(text), scope_(scope) {
        Tokenize();
    }

    TfsPrototype Read();

private:
    [[noreturn]] void Fail(const std::string& why) const {
        RaiseError("Invalid prototype '" + std::string(text_) + "': " + why);
    }

    void Tokenize();
    const Token& Peek() const { return tokens_[pos_]; }
    const Token& Next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
    bool IsPunct(const Token& t, char c) const { return t.kind == Token::Punct && t.text[0] == c; }
    void ReadGroups(TfsPrototype& p);
    Variant ReadDefault();

    std::string_view text_;
    const TfsScript* scope_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
};

// Tokens as the script scanner reads them in its default settings (comments skipped).
void Reader::Tokenize() {
    // One scanner per thread in its default settings; registrations come in hundreds.
    thread_local TfsParser scanner;
    scanner.SetText(text_);
    int depth = 0;
    try {
        while (true) {
            scanner.SkipBlanks();
            if (scanner.Position() > scanner.Size()) break;
            const int start = scanner.Position();
            Token t;
            if (!(t.text = scanner.ReadWord()).empty()) {
                t.kind = Token::Ident;
            } else if (scanner.SetPosition(start), !(t.text = scanner.ReadNumber()).empty()) {
                t.kind = Token::Number;
            } else if (scanner.SetPosition(start), !(t.text = scanner.ReadString()).empty()) {
                t.kind = Token::String;
                t.value = t.text.substr(1, t.text.size() - 2);
            } else {
                scanner.SetPosition(start);
                t.text = scanner.ReadPunctuation();
                if (t.text.empty()) Fail("unexpected character");
                if (t.text[0] == '\'') Fail("unterminated string");
                t.kind = Token::Punct;
                if (t.text[0] == '(') ++depth;
                if (t.text[0] == ')' && --depth < 0) Fail("unbalanced parentheses");
            }
            tokens_.push_back(std::move(t));
        }
    } catch (const EScriptError&) {
        throw;
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    if (depth != 0) Fail("unbalanced parentheses");
    tokens_.push_back(Token{});
}

Variant Reader::ReadDefault() {
    const Token& t = Next();
    switch (t.kind) {
    case Token::Number:
        return ConstantFromText(t.text);
    case Token::String:
        return Variant(t.value);
    case Token::Ident: {
        const TfsCustomVariable* item = scope_ ? scope_->Lookup(t.text) : nullptr;
        if (!item) Fail("unknown identifier '" + std::string(t.text) + "' in a default value");
        return item->Value;
    }
    case Token::Punct:
        if (IsPunct(t, '-') && Peek().kind == Token::Number) {
            Variant v = ConstantFromText(Next().text);
            if (v.Kind() == varInteger || v.Kind() == varInt64) {
                int64_t x = v.ToInt64();
                if (x == std::numeric_limits<int64_t>::min()) Fail("number out of range");
                x = -x;
                if (x >= std::numeric_limits<int32_t>::min())
                    return Variant(static_cast<int32_t>(x));
                return Variant(x);
            }
            return Variant(-v.ToDouble());
        }
        break;
    default:
        break;
    }
    Fail("default value expected");
}

void Reader::ReadGroups(TfsPrototype& p) {
    Next(); // "("
    if (IsPunct(Peek(), ')')) {
        Next();
        return;
    }
    while (true) {
        bool byRef = false;
        std::vector<std::string_view> names;
        while (true) {
            const Token& t = Next();
            if (t.kind != Token::Ident) Fail("parameter name expected");
            if (IsSameText(t.text, "var") && Peek().kind == Token::Ident)
                byRef = true;
            else if (IsSameText(t.text, "const") && Peek().kind == Token::Ident)
                ;
            else {
                names.push_back(t.text);
                if (IsPunct(Peek(), ',')) {
                    Next();
                    continue;
                }
                break;
            }
        }
        if (!IsPunct(Next(), ':'))
            Fail("':' expected after parameter '" + std::string(names.back()) + "'");
        const Token& type = Next();
        if (type.kind != Token::Ident) Fail("type name expected");
        std::string typeName(type.text);
        while (Peek().kind == Token::Ident) Next(); // "array of const"
        Variant def = Variant::Null();
        if (IsPunct(Peek(), '=')) {
            Next();
            def = ReadDefault();
        }
        for (size_t k = 0; k < names.size(); ++k) {
            TfsPrototypeParam prm;
            prm.Name = std::string(names[k]);
            prm.TypeName = typeName;
            prm.ByReference = byRef;
            if (k + 1 == names.size()) {
                prm.DefaultValue = def;
                prm.Optional = !def.IsNull();
            }
            p.Params.push_back(std::move(prm));
        }
        const Token& sep = Next();
        if (IsPunct(sep, ')')) return;
        if (!IsPunct(sep, ';')) Fail("';' or ')' expected");
    }
}

TfsPrototype Reader::Read() {
    TfsPrototype p;
    const Token& kind = Next();
    if (kind.kind != Token::Ident) Fail("'function' or 'procedure' expected");
    std::string_view word = kind.text;
    if (word.size() >= 5 && IsSameText(word.substr(0, 5), "macro")) {
        p.IsMacro = true;
        word.remove_prefix(5);
    }
    p.IsFunction = IsSameText(word, "function");
    const Token& name = Next();
    if (name.kind != Token::Ident) Fail("name expected");
    p.Name = std::string(name.text);

    if (p.IsFunction) {
        // The result type is the identifier after the last ':' of the text.
        size_t colon = tokens_.size();
        for (size_t k = 0; k < tokens_.size(); ++k)
            if (IsPunct(tokens_[k], ':')) colon = k;
        if (colon + 1 >= tokens_.size() || tokens_[colon + 1].kind != Token::Ident)
            Fail("result type expected");
        p.TypeName = std::string(tokens_[colon + 1].text);
    }
    if (IsPunct(Peek(), '(')) ReadGroups(p);
    return p;
}

} // namespace

TfsPrototype ReadPrototype(std::string_view text, const TfsScript* scope) {
    return Reader(text, scope).Read();
}

} // namespace pt
