#include "script/front/fs_xml.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "script/runtime/fs_errors.h"

namespace pt {

namespace {

constexpr size_t kBlockSize = 4096;

unsigned char UpperAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 32 : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(static_cast<unsigned char>(a[i])) !=
            UpperAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

[[noreturn]] void RaiseInvalidFormat() {
    RaiseError(kException, "Invalid file format");
}

// Index in text where attribute `name` begins, found as the first occurrence of
// ' ' + name + '="' in ' ' + text (case-insensitive); npos if absent.
size_t FindAttribute(std::string_view text, std::string_view name) {
    const size_t hayLen = text.size() + 1;
    const size_t needleLen = name.size() + 3;
    if (needleLen > hayLen) return std::string_view::npos;
    auto hay = [&](size_t i) -> unsigned char {
        return i == 0 ? ' ' : static_cast<unsigned char>(text[i - 1]);
    };
    for (size_t h = 0; h + needleLen <= hayLen; ++h) {
        if (hay(h) != ' ') continue;
        size_t k = 0;
        while (k < name.size() &&
               UpperAscii(hay(h + 1 + k)) == UpperAscii(static_cast<unsigned char>(name[k])))
            ++k;
        if (k == name.size() && hay(h + 1 + k) == '=' && hay(h + 2 + k) == '"') return h;
    }
    return std::string_view::npos;
}

} // namespace

// ---- Escaping -----------------------------------------------------------------------------

std::string EscapeValue(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        switch (c) {
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '"':
            out += "&#34;";
            break;
        case '<':
            out += "&#60;";
            break;
        case '>':
            out += "&#62;";
            break;
        case '&':
            if (s.compare(i, 6, "&quot;") == 0) {
                out += "&#34;";
                i += 5;
            } else {
                out += c;
            }
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string UnescapeValue(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t amp = s.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(s.substr(i));
            break;
        }
        out.append(s.substr(i, amp - i));
        i = amp;
        if (s.size() - i - 1 >= 3) {
            if (s[i + 1] == '#') {
                size_t semi = s.find(';', i + 2);
                if (semi != std::string_view::npos) {
                    std::string_view digits = s.substr(i + 2, semi - i - 2);
                    uint64_t value = 0;
                    bool valid = !digits.empty();
                    for (char d : digits) {
                        if (d < '0' || d > '9') {
                            valid = false;
                            break;
                        }
                        value = value * 10 + (d - '0');
                        if (value > 0x7FFFFFFF) {
                            valid = false;
                            break;
                        }
                    }
                    if (!valid)
                        RaiseError(kEConvertError,
                                   "'" + std::string(digits) + "' is not a valid integer value");
                    out += static_cast<char>(value & 0xFF);
                    i = semi + 1;
                    continue;
                }
                // Without a closing ";" the sequence has no end: it is kept as written.
            } else if (s.compare(i, 6, "&quot;") == 0) {
                out += '"';
                i += 6;
                continue;
            }
        }
        out += '&';
        ++i;
    }
    return out;
}

// ---- TfsXMLItem ---------------------------------------------------------------------------

TfsXMLItem::~TfsXMLItem() {
    Detach();
    Clear();
}

void TfsXMLItem::Detach() {
    if (!parent_) return;
    auto& siblings = parent_->items_;
    auto it = std::find(siblings.begin(), siblings.end(), this);
    if (it != siblings.end()) siblings.erase(it);
    parent_ = nullptr;
}

void TfsXMLItem::Clear() {
    // Descendants are freed from a work list: children lists are emptied before each delete,
    // so no destructor recurses.
    std::vector<TfsXMLItem*> work = std::move(items_);
    items_ = {};
    while (!work.empty()) {
        TfsXMLItem* item = work.back();
        work.pop_back();
        work.insert(work.end(), item->items_.begin(), item->items_.end());
        item->items_.clear();
        item->parent_ = nullptr;
        delete item;
    }
}

TfsXMLItem* TfsXMLItem::Items(int index) const {
    if (index < 0 || index >= Count())
        RaiseError("EListError", "List index out of bounds (" + std::to_string(index) + ")");
    return items_[index];
}

TfsXMLItem* TfsXMLItem::Add() {
    auto* item = new TfsXMLItem;
    item->parent_ = this;
    items_.push_back(item);
    return item;
}

void TfsXMLItem::AddItem(TfsXMLItem* item) {
    if (!item) return;
    if (item->documentRoot_) RaiseError(kException, "A document's root cannot be moved");
    for (const TfsXMLItem* a = this; a; a = a->parent_)
        if (a == item) RaiseError(kException, "An element cannot be added to itself or below it");
    item->Detach();
    item->parent_ = this;
    items_.push_back(item);
}

void TfsXMLItem::InsertItem(int index, TfsXMLItem* item) {
    if (!item) return;
    int countAfter = Count() + (item->parent_ == this ? 0 : 1);
    if (index < 0 || index >= countAfter)
        RaiseError("EListError", "List index out of bounds (" + std::to_string(index) + ")");
    AddItem(item);
    items_.pop_back();
    items_.insert(items_.begin() + index, item);
}

int TfsXMLItem::Find(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (EqualNoCase(items_[i]->Name, name)) return static_cast<int>(i);
    return -1;
}

TfsXMLItem* TfsXMLItem::FindItem(std::string_view name) {
    int i = Find(name);
    if (i >= 0) return items_[i];
    TfsXMLItem* item = Add();
    item->Name = name;
    return item;
}

TfsXMLItem* TfsXMLItem::Root() {
    TfsXMLItem* r = this;
    while (r->parent_) r = r->parent_;
    return r;
}

std::string TfsXMLItem::Prop(std::string_view name) const {
    size_t at = FindAttribute(Text, name);
    if (at == std::string_view::npos) return {};
    size_t start = at + name.size() + 2;
    size_t end = Text.find('"', start);
    if (end == std::string::npos) end = Text.size();
    return UnescapeValue(std::string_view(Text).substr(start, end - start));
}

void TfsXMLItem::SetProp(std::string_view name, std::string_view value) {
    std::string pair;
    pair.reserve(name.size() + value.size() + 3);
    pair.append(name).append("=\"").append(EscapeValue(value)).append("\"");
    size_t at = FindAttribute(Text, name);
    if (at == std::string_view::npos) {
        if (!Text.empty() && Text.back() != ' ') Text += ' ';
        Text += pair;
        return;
    }
    size_t close = Text.find('"', at + name.size() + 2);
    size_t end = close == std::string::npos ? Text.size() : close + 1;
    Text.replace(at, end - at, pair);
}

namespace {

// Appends copies of source's name, Text, Data and descendants to an empty target; source and
// target must not be related.
void CopyTree(const TfsXMLItem* source, TfsXMLItem* target) {
    target->Name = source->Name;
    target->Text = source->Text;
    target->Data = source->Data;
    std::vector<std::pair<const TfsXMLItem*, TfsXMLItem*>> work{{source, target}};
    while (!work.empty()) {
        auto [from, to] = work.back();
        work.pop_back();
        for (int i = 0; i < from->Count(); ++i) {
            const TfsXMLItem* child = from->Items(i);
            TfsXMLItem* c = to->Add();
            c->Name = child->Name;
            c->Text = child->Text;
            c->Data = child->Data;
            if (child->Count() > 0) work.emplace_back(child, c);
        }
    }
}

bool IsAncestor(const TfsXMLItem* a, const TfsXMLItem* item) {
    for (const TfsXMLItem* p = item->Parent(); p; p = p->Parent())
        if (p == a) return true;
    return false;
}

} // namespace

void TfsXMLItem::CopyFrom(const TfsXMLItem* source) {
    if (source && IsAncestor(this, source)) {
        // Clearing first would free the source: copy it out before.
        TfsXMLItem copy;
        CopyTree(source, &copy);
        Clear();
        CopyTree(&copy, this);
        return;
    }
    Clear();
    if (!source || source == this) return;
    if (IsAncestor(source, this)) {
        // The source contains this element: copying straight in would never end.
        TfsXMLItem copy;
        CopyTree(source, &copy);
        CopyTree(&copy, this);
        return;
    }
    CopyTree(source, this);
}

// ---- Reading ------------------------------------------------------------------------------

namespace {

// Bytes of a document, either in memory or pulled from a stream in 4096-byte blocks.
class XmlSource {
public:
    explicit XmlSource(std::string_view text)
        : cur_(text.data()), end_(text.data() + text.size()) {}
    XmlSource(std::istream& in, uint64_t available) : in_(&in), available_(available) {
        block_.resize(kBlockSize);
        cur_ = end_ = block_.data();
    }

    // The next byte, or -1 at the end.
    int Get() {
        if (cur_ == end_ && !Fill()) return -1;
        return static_cast<unsigned char>(*cur_++);
    }
    // Advances to just after the next '<'; false at the end.
    bool SkipTo(char c) {
        for (;;) {
            if (cur_ == end_ && !Fill()) return false;
            auto* p = static_cast<const char*>(std::memchr(cur_, c, end_ - cur_));
            if (p) {
                cur_ = p + 1;
                return true;
            }
            cur_ = end_;
        }
    }
    // Appends bytes up to (not including) the first '<' or '>' and returns that byte, which
    // is consumed; -1 at the end.
    int CollectUntilBracket(std::string& out) {
        for (;;) {
            if (cur_ == end_ && !Fill()) return -1;
            const char* p = cur_;
            while (p != end_ && *p != '<' && *p != '>') ++p;
            out.append(cur_, p);
            cur_ = p;
            if (p != end_) return static_cast<unsigned char>(*cur_++);
        }
    }
    // Bytes consumed from the stream so far.
    uint64_t Consumed() const { return pulled_ - static_cast<uint64_t>(end_ - cur_); }

private:
    bool Fill() {
        if (!in_ || available_ == 0) return false;
        size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockSize, available_));
        in_->read(block_.data(), static_cast<std::streamsize>(want));
        size_t got = static_cast<size_t>(in_->gcount());
        if (got == 0) return false;
        available_ -= got;
        pulled_ += got;
        cur_ = block_.data();
        end_ = cur_ + got;
        return true;
    }

    std::istream* in_ = nullptr;
    uint64_t available_ = 0;
    uint64_t pulled_ = 0;
    std::vector<char> block_;
    const char* cur_;
    const char* end_;
};

struct Tag {
    std::string name; // empty: end of input
    std::string attrs;
};

// Reads the next tag, skipping text before it and whole comments.
void ReadTag(XmlSource& src, Tag& tag, std::string& raw) {
    for (;;) {
        tag.name.clear();
        tag.attrs.clear();
        if (!src.SkipTo('<')) return;
        raw.clear();
        // The first three bytes decide whether this is a comment.
        int c = 0;
        while (raw.size() < 3) {
            c = src.Get();
            if (c == -1 || c == '<') RaiseInvalidFormat();
            if (c == '>') break;
            raw += static_cast<char>(c);
        }
        if (c != '>' && raw == "!--") {
            int dashes = 0;
            for (;;) {
                c = src.Get();
                if (c == -1) RaiseInvalidFormat();
                if (c == '-') {
                    dashes = dashes == 2 ? 0 : dashes + 1;
                } else if (c == '>' && dashes == 2) {
                    break;
                } else {
                    dashes = 0;
                }
            }
            continue;
        }
        if (c != '>') {
            c = src.CollectUntilBracket(raw);
            if (c != '>') RaiseInvalidFormat();
        }
        if (!raw.empty() && raw.back() == ' ') raw.pop_back();
        size_t blank = raw.find(' ');
        if (blank == std::string::npos) {
            tag.name = raw;
        } else {
            tag.name.assign(raw, 0, blank);
            tag.attrs.assign(raw, blank + 1);
        }
        return;
    }
}

bool IsEndOfList(const Tag& tag) {
    return tag.name.empty() || tag.name[0] == '/';
}

// Fills an element from a tag; returns true when it may have children.
bool TakeTag(TfsXMLItem* item, Tag& tag) {
    item->Name = std::move(tag.name);
    item->Text = std::move(tag.attrs);
    if (!item->Name.empty() && item->Name.back() == '/') {
        item->Name.pop_back();
        return false;
    }
    if (!item->Text.empty() && item->Text.back() == '/') {
        item->Text.pop_back();
        return false;
    }
    return true;
}

void ReadDocument(XmlSource& src, TfsXMLItem* root) {
    root->Clear();
    root->Name.clear();
    root->Text.clear();
    Tag tag;
    std::string raw;
    ReadTag(src, tag, raw);
    if (tag.name.compare(0, 4, "?xml") != 0) RaiseInvalidFormat();

    ReadTag(src, tag, raw);
    if (IsEndOfList(tag)) return;
    std::vector<TfsXMLItem*> open;
    if (TakeTag(root, tag)) open.push_back(root);
    while (!open.empty()) {
        ReadTag(src, tag, raw);
        if (tag.name.empty()) {
            // A nameless tag ends the enclosing element's children without a check; at the
            // end of the input every open element ends this way and is accepted.
            open.pop_back();
            continue;
        }
        TfsXMLItem* parent = open.back();
        if (tag.name[0] == '/') {
            if (!EqualNoCase(std::string_view(tag.name).substr(1), parent->Name))
                RaiseInvalidFormat();
            open.pop_back();
            continue;
        }
        TfsXMLItem* child = parent->Add();
        if (TakeTag(child, tag)) open.push_back(child);
    }
}

// ---- Writing ------------------------------------------------------------------------------

// Output collected in a text buffer; with a stream it is flushed past 4096 characters.
class XmlSink {
public:
    explicit XmlSink(std::ostream* out) : out_(out) {}
    std::string& Buffer() { return buf_; }
    void MaybeFlush() {
        if (out_ && buf_.size() > kBlockSize) Flush();
    }
    void Flush() {
        if (!out_) return;
        out_->write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
        buf_.clear();
        if (!*out_) RaiseError("EWriteError", "Stream write error");
    }

private:
    std::ostream* out_;
    std::string buf_;
};

void WriteDocument(const TfsXMLItem* root, bool indented, XmlSink& sink) {
    std::string& b = sink.Buffer();
    b += "<?xml version=\"1.0\"?>";
    if (indented) b += "\r\n";
    struct Frame {
        const TfsXMLItem* item;
        int next;
    };
    std::vector<Frame> stack;
    auto indent = [&](size_t depth) {
        if (indented) b.append(depth * 2, ' ');
    };
    auto open = [&](const TfsXMLItem* item) {
        indent(stack.size());
        b += '<';
        b += item->Name;
        if (!item->Text.empty()) {
            if (item->Text[0] != ' ') b += ' ';
            b += item->Text;
        }
        if (item->Count() == 0) {
            b += "/>";
        } else {
            b += '>';
            stack.push_back({item, 0});
        }
        if (indented) b += "\r\n";
        sink.MaybeFlush();
    };
    open(root);
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next < f.item->Count()) {
            open(f.item->Items(f.next++));
            continue;
        }
        const TfsXMLItem* item = f.item;
        stack.pop_back();
        indent(stack.size());
        b += "</";
        b += item->Name;
        b += '>';
        if (indented) b += "\r\n";
        sink.MaybeFlush();
    }
    sink.Flush();
}

} // namespace

// ---- TfsXMLDocument -----------------------------------------------------------------------

TfsXMLDocument::TfsXMLDocument() : root_(new TfsXMLItem) {
    root_->documentRoot_ = true;
}

TfsXMLDocument::~TfsXMLDocument() {
    root_->documentRoot_ = false;
    delete root_;
}

void TfsXMLDocument::LoadFromString(std::string_view text) {
    XmlSource src(text);
    ReadDocument(src, root_);
}

void TfsXMLDocument::LoadFromStream(std::istream& stream) {
    std::streampos start = stream.tellg();
    uint64_t available = UINT64_MAX;
    if (start != std::streampos(-1)) {
        stream.seekg(0, std::ios::end);
        std::streampos size = stream.tellg();
        stream.seekg(start);
        if (size != std::streampos(-1) && size >= start)
            available = static_cast<uint64_t>(size - start);
    }
    XmlSource src(stream, available);
    auto reposition = [&] {
        if (start == std::streampos(-1)) return;
        stream.clear();
        stream.seekg(start + static_cast<std::streamoff>(src.Consumed()));
    };
    try {
        ReadDocument(src, root_);
    } catch (...) {
        reposition();
        throw;
    }
    reposition();
}

void TfsXMLDocument::LoadFromFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        RaiseError("EFOpenError", "Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    LoadFromStream(in);
}

std::string TfsXMLDocument::SaveToString() const {
    XmlSink sink(nullptr);
    WriteDocument(root_, Indented, sink);
    return std::move(sink.Buffer());
}

void TfsXMLDocument::SaveToStream(std::ostream& stream) const {
    XmlSink sink(&stream);
    WriteDocument(root_, Indented, sink);
}

void TfsXMLDocument::SaveToFile(const std::string& fileName) const {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        RaiseError("EFCreateError",
                   "Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    SaveToStream(out);
    out.close();
    if (!out) RaiseError("EWriteError", "Stream write error");
}

} // namespace pt
