#include "script/front/fs_iparser.h"

#include <algorithm>
#include <cstdint>

#include "script/runtime/fs_errors.h"

namespace pt {

namespace {

unsigned char LowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = LowerAscii(static_cast<unsigned char>(a[i]));
        unsigned char y = LowerAscii(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Splits like a comma-separated list: commas and blanks (bytes up to 32) separate items,
// double quotes group (a doubled quote inside stands for one).
std::vector<std::string> SplitCommaText(std::string_view s) {
    std::vector<std::string> items;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    };
    skipBlanks();
    while (i < s.size()) {
        std::string item;
        if (s[i] == '"') {
            ++i;
            while (i < s.size()) {
                if (s[i] == '"') {
                    if (i + 1 < s.size() && s[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += s[i++];
            }
        } else {
            while (i < s.size() && s[i] != ',' && static_cast<unsigned char>(s[i]) > 32)
                item += s[i++];
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < s.size() && s[i] == ',') {
            ++i;
            skipBlanks();
            if (i == s.size()) items.emplace_back(); // a trailing comma ends an empty item
        }
    }
    return items;
}

[[noreturn]] void RaiseInvalidInteger(std::string_view digits) {
    RaiseError(kEConvertError, "'" + std::string(digits) + "' is not a valid integer value");
}

} // namespace

TfsParser::TfsParser() {
    ResetSettings();
    SetText("");
}

void TfsParser::ResetSettings() {
    keywords_.clear();
    specStrChar_ = false;
    commentLine1_ = "//";
    SetCommentBlock1("{,}");
    SetCommentBlock2("(*,*)");
    hexSequence_ = "$";
    identChars_.reset();
    for (int c = '0'; c <= '9'; ++c) identChars_.set(c);
    for (int c = 'A'; c <= 'Z'; ++c) identChars_.set(c);
    for (int c = 'a'; c <= 'z'; ++c) identChars_.set(c);
    identChars_.set('_');
    skipChar_ = '\0';
    skipEOL_ = true;
    quote_ = '\'';
}

bool TfsParser::ApplySetting(std::string_view key, std::string_view value) {
    if (key == "identchars")
        SetIdentChars(value);
    else if (key == "commentline1")
        SetCommentLine1(value);
    else if (key == "commentline2")
        SetCommentLine2(value);
    else if (key == "commentblock1")
        SetCommentBlock1(value);
    else if (key == "commentblock2")
        SetCommentBlock2(value);
    else if (key == "stringquotes")
        SetStringQuotes(value);
    else if (key == "hexsequence")
        SetHexSequence(value);
    else if (key == "skipchar")
        SetSkipChar(value);
    else if (key == "specstrchar") {
        if (value == "1") specStrChar_ = true;
    } else if (key == "casesensitive") {
        if (value == "1") caseSensitive_ = true;
    } else if (key == "skipeol") {
        if (value == "0") skipEOL_ = false;
    } else
        return false;
    return true;
}

void TfsParser::SetCommentBlock1(std::string_view setting) {
    auto items = SplitCommaText(setting);
    block1Open_ = items.size() > 0 ? items[0] : std::string();
    block1Close_ = items.size() > 1 ? items[1] : std::string();
}

void TfsParser::SetCommentBlock2(std::string_view setting) {
    auto items = SplitCommaText(setting);
    block2Open_ = items.size() > 0 ? items[0] : std::string();
    block2Close_ = items.size() > 1 ? items[1] : std::string();
}

void TfsParser::SetStringQuotes(std::string_view quotes) {
    quote_ = quotes.empty() ? '\0' : quotes[0];
}

void TfsParser::SetSkipChar(std::string_view chars) {
    skipChar_ = chars.empty() ? '\0' : chars[0];
}

void TfsParser::SetIdentChars(std::string_view chars) {
    identChars_.reset();
    for (char c : chars) identChars_.set(static_cast<unsigned char>(c));
}

void TfsParser::AddExtendedCharset() {
    for (int c = 128; c < 256; ++c) identChars_.set(c);
}

void TfsParser::AddKeyword(std::string_view word) {
    auto it = std::lower_bound(
        keywords_.begin(), keywords_.end(), word,
        [](const std::string& a, std::string_view b) { return CompareNoCase(a, b) < 0; });
    keywords_.insert(it, std::string(word));
}

bool TfsParser::IsKeyword(std::string_view word) const {
    if (caseSensitive_) {
        // Entries that differ only in case sort next to each other; compare each exactly.
        auto range = std::equal_range(
            keywords_.begin(), keywords_.end(), word,
            [](std::string_view a, std::string_view b) { return CompareNoCase(a, b) < 0; });
        for (auto it = range.first; it != range.second; ++it)
            if (*it == word) return true;
        return false;
    }
    return std::binary_search(
        keywords_.begin(), keywords_.end(), word,
        [](std::string_view a, std::string_view b) { return CompareNoCase(a, b) < 0; });
}

void TfsParser::SetText(std::string_view text) {
    text_.assign(text.data(), text.size());
    text_.push_back('\0');
    size_ = static_cast<int>(text.size());
    pos_ = tokenStart_ = 1;
    lines_.clear();
    lines_.push_back(0);
    for (int i = 0; i < size_; ++i)
        if (text_[i] == '\n') lines_.push_back(i + 1);
}

void TfsParser::SetPosition(int p) {
    pos_ = std::clamp(p, 1, size_ + 1);
    tokenStart_ = pos_;
}

bool TfsParser::MatchAt(int p, std::string_view s) const {
    if (s.empty() || p < 1 || p > size_) return false;
    if (static_cast<size_t>(size_ - p + 1) < s.size()) return false;
    return std::string_view(text_.data() + p - 1, s.size()) == s;
}

bool TfsParser::SkipBlockComment(const std::string& open, const std::string& close) {
    // An empty opening marker would match everywhere without making progress.
    if (!MatchAt(pos_, open)) return false;
    pos_ += static_cast<int>(open.size());
    if (!close.empty()) {
        while (pos_ <= size_ && !MatchAt(pos_, close)) ++pos_;
        if (pos_ <= size_) pos_ += static_cast<int>(close.size());
    }
    return true;
}

void TfsParser::SkipBlanks() {
    // A continuation character steps over itself and then reads a line end, whose own skipping
    // comes first. That nesting is unrolled into a counter so that a long run of continuation
    // characters cannot exhaust the stack: each time skipping would stop, one pending line end
    // consumes a run of CR and LF bytes (if one stands there) and skipping starts again.
    int pendingLineEnds = 0;
    for (;;) {
        while (pos_ <= size_) {
            unsigned char c = At(pos_);
            if (c > 32 || (c == '\r' && !skipEOL_)) break;
            ++pos_;
        }
        if (skipChar_ != '\0' && pos_ <= size_ &&
            At(pos_) == static_cast<unsigned char>(skipChar_)) {
            ++pos_;
            ++pendingLineEnds;
            continue;
        }
        if (pos_ < size_) {
            if (MatchAt(pos_, commentLine1_) || MatchAt(pos_, commentLine2_)) {
                bool stopAtCR = !skipEOL_ && pos_ > 1 && At(pos_ - 1) != '\n';
                while (pos_ <= size_) {
                    unsigned char c = At(pos_);
                    if (c == '\n' || (stopAtCR && c == '\r')) break;
                    ++pos_;
                }
                continue;
            }
            if (SkipBlockComment(block1Open_, block1Close_)) continue;
            if (SkipBlockComment(block2Open_, block2Close_)) continue;
        }
        if (pendingLineEnds == 0) break;
        --pendingLineEnds;
        while (pos_ <= size_ && (At(pos_) == '\r' || At(pos_) == '\n')) ++pos_;
    }
    tokenStart_ = pos_;
}

bool TfsParser::ReadLineEnd() {
    SkipBlanks();
    if (pos_ > size_) return false;
    unsigned char c = At(pos_);
    if (c != '\r' && c != '\n') return false;
    while (pos_ <= size_ && (At(pos_) == '\r' || At(pos_) == '\n')) ++pos_;
    return true;
}

std::string TfsParser::ReadWord() {
    SkipBlanks();
    if (pos_ > size_) return {};
    unsigned char c = At(pos_);
    if (!identChars_[c] || IsDigit(c)) return {};
    while (pos_ <= size_ && identChars_[At(pos_)]) ++pos_;
    return std::string(text_.data() + tokenStart_ - 1, pos_ - tokenStart_);
}

std::string TfsParser::ReadIdentifier() {
    std::string word = ReadWord();
    if (!word.empty() && IsKeyword(word)) return {};
    return word;
}

std::string TfsParser::ReadPunctuation() {
    if (pos_ > size_) return {};
    unsigned char c = At(pos_);
    bool punct = (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
                 (c >= '{' && c <= '~');
    if (!punct) return {};
    ++pos_;
    return std::string(1, static_cast<char>(c));
}

bool TfsParser::ReadIntegerPart(bool& hex) {
    int start = pos_;
    hex = MatchAt(pos_, hexSequence_);
    if (hex) {
        pos_ += static_cast<int>(hexSequence_.size());
        if (pos_ > size_ || !IsHexDigit(At(pos_))) {
            pos_ = start;
            return false;
        }
        while (pos_ <= size_ && IsHexDigit(At(pos_))) ++pos_;
        return true;
    }
    if (pos_ > size_ || !IsDigit(At(pos_))) return false;
    while (pos_ <= size_ && IsDigit(At(pos_))) ++pos_;
    return true;
}

std::string TfsParser::ReadNumber() {
    SkipBlanks();
    bool hex = false;
    if (!ReadIntegerPart(hex)) return {};
    bool fractionFailed = false;
    if (pos_ <= size_ && At(pos_) == '.') {
        int dot = pos_;
        ++pos_;
        if (pos_ <= size_ && IsDigit(At(pos_))) {
            while (pos_ <= size_ && IsDigit(At(pos_))) ++pos_;
        } else {
            pos_ = dot; // "1." and "1..5" read the integer part only, with no exponent
            fractionFailed = true;
        }
    }
    if (!fractionFailed && pos_ <= size_ && (At(pos_) == 'E' || At(pos_) == 'e')) {
        int p = pos_ + 1;
        if (p <= size_ && (At(p) == '+' || At(p) == '-')) ++p;
        if (p <= size_ && IsDigit(At(p))) {
            while (p <= size_ && IsDigit(At(p))) ++p;
            pos_ = p;
        }
    }
    std::string result(text_.data() + tokenStart_ - 1, pos_ - tokenStart_);
    if (hexSequence_ != "$" && !hexSequence_.empty()) {
        std::string normalised;
        size_t i = 0;
        while (i < result.size()) {
            if (result.compare(i, hexSequence_.size(), hexSequence_) == 0) {
                normalised += '$';
                i += hexSequence_.size();
            } else {
                normalised += result[i++];
            }
        }
        result = std::move(normalised);
    }
    return result;
}

namespace {

// Value of a digit run as a 32-bit integer conversion sees it: decimal up to 2^31-1, hex up
// to 8 significant digits. Raises EConvertError beyond that.
unsigned CharCodeOf(std::string_view digits, bool hex) {
    uint64_t value = 0;
    const uint64_t limit = hex ? 0xFFFFFFFFull : 0x7FFFFFFFull;
    for (char ch : digits) {
        unsigned d;
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else
            d = ch - 'A' + 10;
        value = value * (hex ? 16 : 10) + d;
        if (value > limit)
            RaiseInvalidInteger(hex ? "$" + std::string(digits) : std::string(digits));
    }
    return static_cast<unsigned>(value & 0xFF);
}

} // namespace

bool TfsParser::ReadQuotedPiece(std::string& out) {
    if (quote_ == '\0' || pos_ > size_ || At(pos_) != static_cast<unsigned char>(quote_))
        return false;
    const unsigned char q = static_cast<unsigned char>(quote_);
    int start = pos_;
    size_t outStart = out.size();
    ++pos_;
    for (;;) {
        unsigned char c = At(pos_); // the sentinel is a control byte: the loop ends there
        if (c < 32 && c != '\t') break;
        if (c == q) {
            if (!specStrChar_ && pos_ < size_ && At(pos_ + 1) == q) {
                out += static_cast<char>(q);
                pos_ += 2;
                continue;
            }
            ++pos_;
            return true;
        }
        if (c == '\\' && specStrChar_) {
            unsigned char e = At(pos_ + 1);
            if (e < 32 && e != '\t') {
                ++pos_;
                break;
            }
            if (e == 'n' || e == 'N') {
                out += '\n';
                pos_ += 2;
            } else if (e == 'r') {
                out += '\r';
                pos_ += 2;
            } else if (e == 'x') {
                int p = pos_ + 2;
                while (p <= size_ && IsHexDigit(At(p))) ++p;
                if (p > pos_ + 2) {
                    std::string_view digits(text_.data() + pos_ + 1, p - pos_ - 2);
                    out += static_cast<char>(CharCodeOf(digits, true));
                }
                pos_ = p;
            } else {
                out += static_cast<char>(e);
                pos_ += 2;
            }
            continue;
        }
        out += static_cast<char>(c);
        ++pos_;
    }
    out.resize(outStart);
    pos_ = start;
    return false;
}

bool TfsParser::ReadCharCodePiece(std::string& out) {
    if (pos_ > size_ || At(pos_) != '#') return false;
    int start = pos_;
    ++pos_;
    bool hex = false;
    int digitsStart = pos_;
    if (!ReadIntegerPart(hex)) {
        pos_ = start;
        return false;
    }
    if (hex) digitsStart += static_cast<int>(hexSequence_.size());
    std::string_view digits(text_.data() + digitsStart - 1, pos_ - digitsStart);
    out += static_cast<char>(CharCodeOf(digits, hex));
    return true;
}

std::string TfsParser::ReadString() {
    SkipBlanks();
    std::string body;
    bool any = false;
    while (ReadQuotedPiece(body) || ReadCharCodePiece(body)) any = true;
    if (!any) return {};
    std::string result;
    result.reserve(body.size() + 2);
    result += '\'';
    result += body;
    result += '\'';
    return result;
}

std::string TfsParser::ReadBracketed() {
    int start = pos_;
    int depth = 1;
    bool inDouble = false, inSingle = false;
    while (pos_ <= size_) {
        unsigned char c = At(pos_);
        if (c == '"' && !inSingle)
            inDouble = !inDouble;
        else if (c == '\'' && !inDouble)
            inSingle = !inSingle;
        else if (!inDouble && !inSingle) {
            if (c == '<' || c == '[')
                ++depth;
            else if (c == '>' || c == ']') {
                if (--depth == 0) break;
            }
        }
        ++pos_;
    }
    return std::string(text_.data() + start - 1, pos_ - start);
}

void TfsParser::LineAndColumn(int p, int& line, int& column) const {
    auto it = std::lower_bound(lines_.begin(), lines_.end(), p);
    line = std::max(1, static_cast<int>(it - lines_.begin()));
    column = p - lines_[line - 1];
}

std::string TfsParser::PositionText(int p) const {
    int line, column;
    LineAndColumn(p, line, column);
    return std::to_string(line) + ":" + std::to_string(column);
}

int TfsParser::OffsetOf(int column, int line) const {
    if (line < 1 || line > static_cast<int>(lines_.size())) return -1;
    return lines_[line - 1] + column;
}

} // namespace pt
