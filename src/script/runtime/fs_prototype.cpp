#include "script/runtime/fs_prototype.h"

#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_iinterpreter.h"

#include <cstdint>
#include <limits>

namespace pt {

namespace {

// Tokens as the script scanner reads them in its default settings.
struct Token {
    enum Kind : uint8_t { End, Ident, Number, String, Punct } kind = End;
    std::string_view text; // identifier, number or punctuation text
    std::string value;     // string literal contents (quotes resolved)
};

bool IsIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
    return IsIdentStart(c) || (c >= '0' && c <= '9');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

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
    bool IsPunct(const Token& t, char c) const {
        return t.kind == Token::Punct && t.text.size() == 1 && t.text[0] == c;
    }
    void ReadGroups(TfsPrototype& p);
    Variant ReadDefault();

    std::string_view text_;
    const TfsScript* scope_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
};

void Reader::Tokenize() {
    const size_t n = text_.size();
    size_t i = 0;
    int depth = 0;
    auto at = [&](size_t k) { return k < n ? text_[k] : '\0'; };
    while (true) {
        while (i < n && static_cast<unsigned char>(text_[i]) <= 32) ++i;
        if (i >= n) break;
        char c = text_[i];
        if (c == '/' && at(i + 1) == '/') {
            while (i < n && text_[i] != '\n') ++i;
            continue;
        }
        if (c == '{') {
            size_t close = text_.find('}', i + 1);
            i = close == std::string_view::npos ? n : close + 1;
            continue;
        }
        if (c == '(' && at(i + 1) == '*') {
            size_t close = text_.find("*)", i + 2);
            i = close == std::string_view::npos ? n : close + 2;
            continue;
        }
        Token t;
        size_t start = i;
        if (IsIdentStart(c)) {
            while (i < n && IsIdentChar(text_[i])) ++i;
            t.kind = Token::Ident;
        } else if (IsDigit(c) || (c == '$' && IsHexDigit(at(i + 1)))) {
            if (c == '$') {
                ++i;
                while (i < n && IsHexDigit(text_[i])) ++i;
            } else {
                while (i < n && IsDigit(text_[i])) ++i;
                if (at(i) == '.' && IsDigit(at(i + 1))) {
                    ++i;
                    while (i < n && IsDigit(text_[i])) ++i;
                }
                if (at(i) == 'e' || at(i) == 'E') {
                    size_t e = i + 1;
                    if (at(e) == '+' || at(e) == '-') ++e;
                    if (IsDigit(at(e))) {
                        i = e;
                        while (i < n && IsDigit(text_[i])) ++i;
                    }
                }
            }
            t.kind = Token::Number;
        } else if (c == '\'' || (c == '#' && (IsDigit(at(i + 1)) || at(i + 1) == '$'))) {
            // Quoted pieces and #nn character codes, joined when nothing separates them.
            while (true) {
                if (at(i) == '\'') {
                    ++i;
                    while (true) {
                        if (i >= n || static_cast<unsigned char>(text_[i]) < 32)
                            Fail("unterminated string");
                        if (text_[i] == '\'') {
                            if (at(i + 1) == '\'') {
                                t.value += '\'';
                                i += 2;
                                continue;
                            }
                            ++i;
                            break;
                        }
                        t.value += text_[i++];
                    }
                } else if (at(i) == '#' && (IsDigit(at(i + 1)) || at(i + 1) == '$')) {
                    ++i;
                    uint32_t code = 0;
                    bool hex = at(i) == '$';
                    if (hex) ++i;
                    size_t digits = i;
                    while (i < n && (hex ? IsHexDigit(text_[i]) : IsDigit(text_[i]))) {
                        char d = text_[i++];
                        uint32_t v = IsDigit(d) ? d - '0' : (d | 0x20) - 'a' + 10;
                        code = (code * (hex ? 16 : 10) + v) & 0xFFFFFF;
                    }
                    if (i == digits) Fail("character code expected");
                    t.value += static_cast<char>(code & 0xFF);
                } else {
                    break;
                }
            }
            t.kind = Token::String;
        } else {
            ++i;
            t.kind = Token::Punct;
            if (c == '(') ++depth;
            if (c == ')' && --depth < 0) Fail("unbalanced parentheses");
        }
        t.text = text_.substr(start, i - start);
        tokens_.push_back(std::move(t));
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
            if (SameText(t.text, "var") && Peek().kind == Token::Ident)
                byRef = true;
            else if (SameText(t.text, "const") && Peek().kind == Token::Ident)
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
    if (word.size() >= 5 && SameText(word.substr(0, 5), "macro")) {
        p.IsMacro = true;
        word.remove_prefix(5);
    }
    p.IsFunction = SameText(word, "function");
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
