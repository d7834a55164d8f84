// TfsXMLItem and TfsXMLDocument: a small XML tree with its own reader and writer.
//
// Only the subset the front end needs: elements with attributes, nesting, comments and a
// header. Character data between tags is dropped; all information lives in element names and
// attribute values. An element keeps its attributes as the raw attribute text of its tag
// (`Text`); values inside it are escaped, and Prop/SetProp read and write them in place.
//
// Invariants:
//  - An element owns its children; deleting an element detaches it from its parent and
//    deletes its children.
//  - No element is its own ancestor (AddItem refuses to create a cycle).
//  - Reading, writing, copying and freeing are iterative: a document nested a million levels
//    deep neither overflows the stack on load nor on destruction.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

class TfsXMLItem {
public:
    TfsXMLItem() = default;
    // Detaches from the parent and frees all children.
    ~TfsXMLItem();
    TfsXMLItem(const TfsXMLItem&) = delete;
    TfsXMLItem& operator=(const TfsXMLItem&) = delete;

    std::string Name;     // element name as read (case kept)
    std::string Text;     // raw attribute text: name="value" pairs, values escaped
    void* Data = nullptr; // free for the owner; copied by CopyFrom, never written

    TfsXMLItem* Parent() const { return parent_; }
    int Count() const { return static_cast<int>(items_.size()); }
    // The child at an index; raises EListError "List index out of bounds (%d)" outside.
    TfsXMLItem* Items(int index) const;
    TfsXMLItem* operator[](int index) const { return Items(index); }

    // A new empty child at the end.
    TfsXMLItem* Add();
    // Appends an existing element (moving it from its previous parent). Adding an element
    // to itself or to one of its descendants raises an error instead of making a cycle; so
    // does moving the root of a document (the document frees it).
    void AddItem(TfsXMLItem* item);
    // AddItem, then moves the element to the index (0..Count after adding - 1).
    void InsertItem(int index, TfsXMLItem* item);
    // Frees all children.
    void Clear();

    // Index of the first child named name (case-insensitive); -1 if none.
    int Find(std::string_view name) const;
    // The first child named name; appended as a new empty child when missing.
    TfsXMLItem* FindItem(std::string_view name);
    TfsXMLItem* Root();

    // Unescaped value of an attribute, or empty.
    std::string Prop(std::string_view name) const;
    // Sets or replaces an attribute (the value is escaped). Prop(name, value) is the same.
    void SetProp(std::string_view name, std::string_view value);
    void Prop(std::string_view name, std::string_view value) { SetProp(name, value); }

    // Clear, then copy name, Text, Data and all descendants of source (nullptr: only Clear).
    // The source may be an ancestor or a descendant of this element.
    void CopyFrom(const TfsXMLItem* source);

private:
    friend class TfsXMLDocument;
    void Detach();

    TfsXMLItem* parent_ = nullptr;
    bool documentRoot_ = false;      // owned by a document: never moved under another element
    std::vector<TfsXMLItem*> items_; // owned
};

// Escapes LF, CR, double quote, "<" and ">" as "&#<code>;", and rewrites "&quot;" as "&#34;";
// every other byte is kept.
std::string EscapeValue(std::string_view s);
// "&#<decimal>;" becomes that byte (low 8 bits), "&quot;" a double quote; any other "&"
// sequence is kept, as is "&#" without a closing ";". Digits that are not a valid 32-bit
// integer raise EConvertError "'%s' is not a valid integer value".
std::string UnescapeValue(std::string_view s);

class TfsXMLDocument {
public:
    TfsXMLDocument();
    ~TfsXMLDocument();
    TfsXMLDocument(const TfsXMLDocument&) = delete;
    TfsXMLDocument& operator=(const TfsXMLDocument&) = delete;

    TfsXMLItem* Root() const { return root_; }
    bool Indented = false; // two blanks per level and CR LF after every line

    // Loading clears the root and fills it in place (pointers to the root stay valid).
    // A malformed document raises "Invalid file format"; the root keeps what was read.
    void LoadFromString(std::string_view text);
    // Reads from the stream's current position through 4096-byte blocks and leaves the stream
    // positioned after the last byte consumed.
    void LoadFromStream(std::istream& stream);
    void LoadFromFile(const std::string& fileName);

    std::string SaveToString() const;
    void SaveToStream(std::ostream& stream) const;
    void SaveToFile(const std::string& fileName) const;

private:
    TfsXMLItem* root_;
};

} // namespace pt
