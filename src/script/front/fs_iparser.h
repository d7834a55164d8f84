// TfsParser: the character-level scanner under the grammar-driven parser.
//
// It holds one source text and a current position and, on request, reads one token of a
// given kind there. It never decides which kind comes next; an empty result means "no token
// of that kind here", and the caller may put the position back.
//
// Invariants:
//  - Positions are 1-based byte indexes into the text; valid positions are 1..Size()+1.
//  - The stored text always ends with a NUL sentinel at position Size()+1, so reading at
//    Size()+1 yields NUL. Every loop is also bounded by Size(): NUL bytes inside the text
//    never let a scan run past the sentinel.
//  - The line table holds 0 followed by the position of every LF, in order; it is rebuilt by
//    SetText only.
//  - Tokens are scanned in place; text is copied only when a token is returned.
#pragma once

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

class TfsParser {
public:
    TfsParser();

    // ---- Settings -------------------------------------------------------------------------
    // Restores the defaults: no keywords, backslash escapes off, line comment 1 "//", block
    // comments "{,}" and "(*,*)", hex prefix "$", default identifier characters, no
    // continuation character, line ends skipped, string quote "'". Line comment 2 and case
    // sensitivity are left as they are.
    void ResetSettings();

    // Applies one grammar setting (key in lower case, value from its `text` attribute):
    // identchars, commentline1, commentline2, commentblock1, commentblock2, stringquotes,
    // hexsequence, skipchar take the text; specstrchar "1" and casesensitive "1" turn those
    // on; skipeol "0" turns skipping of line ends off. Returns false for an unknown key.
    bool ApplySetting(std::string_view key, std::string_view value);

    void SetCommentLine1(std::string_view marker) { commentLine1_ = marker; }
    void SetCommentLine2(std::string_view marker) { commentLine2_ = marker; }
    // "open,close" split like a comma-separated list (blanks also separate, double quotes
    // group); a single item gives an empty closing marker.
    void SetCommentBlock1(std::string_view setting);
    void SetCommentBlock2(std::string_view setting);
    // Only the first character is used; empty means no quoted strings.
    void SetStringQuotes(std::string_view quotes);
    // Empty means no hexadecimal numbers.
    void SetHexSequence(std::string_view prefix) { hexSequence_ = prefix; }
    void SetSpecStrChar(bool on) { specStrChar_ = on; }
    void SetSkipEOL(bool on) { skipEOL_ = on; }
    // Only the first character is used; empty means none.
    void SetSkipChar(std::string_view chars);
    void SetCaseSensitive(bool on) { caseSensitive_ = on; }
    // Replaces the identifier character set by exactly these bytes.
    void SetIdentChars(std::string_view chars);
    // Adds bytes 128-255 to the identifier set (the script's extended character set flag).
    void AddExtendedCharset();

    void AddKeyword(std::string_view word);
    void ClearKeywords() { keywords_.clear(); }
    const std::vector<std::string>& Keywords() const { return keywords_; }

    const std::string& CommentLine1() const { return commentLine1_; }
    const std::string& CommentLine2() const { return commentLine2_; }
    const std::string& CommentBlock1Open() const { return block1Open_; }
    const std::string& CommentBlock1Close() const { return block1Close_; }
    const std::string& CommentBlock2Open() const { return block2Open_; }
    const std::string& CommentBlock2Close() const { return block2Close_; }
    char StringQuote() const { return quote_; } // NUL when none
    const std::string& HexSequence() const { return hexSequence_; }
    bool SpecStrChar() const { return specStrChar_; }
    bool SkipEOL() const { return skipEOL_; }
    char SkipChar() const { return skipChar_; } // NUL when none
    bool CaseSensitive() const { return caseSensitive_; }
    bool IsIdentChar(unsigned char c) const { return identChars_[c]; }

    // ---- Text and position ----------------------------------------------------------------
    // Stores the text with a NUL sentinel, sets position and token start to 1 and builds the
    // line table.
    void SetText(std::string_view text);
    // The text without the sentinel.
    std::string_view Text() const { return std::string_view(text_.data(), size_); }
    int Size() const { return size_; }
    int Position() const { return pos_; }
    // Sets position and token start; clamped to 1..Size()+1.
    void SetPosition(int p);
    int TokenStart() const { return tokenStart_; }
    // The byte at a position; NUL outside 1..Size().
    char CharAt(int p) const { return (p >= 1 && p <= size_) ? text_[p - 1] : '\0'; }

    // ---- Reading ----------------------------------------------------------------------------
    // All readers except ReadPunctuation and ReadBracketed skip blanks and comments first.
    void SkipBlanks();
    bool ReadLineEnd();
    std::string ReadWord();
    // A keyword gives empty and leaves the position after the word.
    std::string ReadIdentifier();
    std::string ReadPunctuation();
    // Hex prefix normalised to "$".
    std::string ReadNumber();
    // One string token, always wrapped in single quotes. Raises EConvertError "'%s' is not a
    // valid integer value" for a character code beyond the 32-bit range.
    std::string ReadString();
    // Raw text up to the bracket that closes an already consumed "<"; the closing bracket
    // is not consumed.
    std::string ReadBracketed();

    bool IsKeyword(std::string_view word) const;

    // "line:column" of the current position (or of p), both counted from 1.
    std::string PositionText() const { return PositionText(pos_); }
    std::string PositionText(int p) const;
    // Line and column of a position (line >= 1).
    void LineAndColumn(int p, int& line, int& column) const;
    // Position of a column in a line; -1 when the line is outside the table.
    int OffsetOf(int column, int line) const;

private:
    // Byte at a 1-based position inside 1..size_+1 (the sentinel included).
    unsigned char At(int p) const { return static_cast<unsigned char>(text_[p - 1]); }
    bool MatchAt(int p, std::string_view s) const;
    static bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
    static bool IsHexDigit(unsigned char c) {
        return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    }
    bool SkipBlockComment(const std::string& open, const std::string& close);
    // Reads an integer part (decimal digits, or hex prefix plus hex digits) at pos_.
    // Returns false and leaves pos_ unchanged when there is none.
    bool ReadIntegerPart(bool& hex);
    bool ReadQuotedPiece(std::string& out);
    bool ReadCharCodePiece(std::string& out);

    std::string text_; // source + NUL sentinel
    int size_ = 0;
    int pos_ = 1;
    int tokenStart_ = 1;
    std::vector<int> lines_{0};

    std::string commentLine1_;
    std::string commentLine2_;
    std::string block1Open_, block1Close_;
    std::string block2Open_, block2Close_;
    std::string hexSequence_;
    char quote_ = '\'';
    char skipChar_ = '\0';
    bool specStrChar_ = false;
    bool skipEOL_ = true;
    bool caseSensitive_ = false;
    std::bitset<256> identChars_;
    std::vector<std::string> keywords_; // sorted, case-insensitively
};

} // namespace pt
