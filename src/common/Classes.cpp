#include "common/Classes.h"

#include "script/runtime/fs_objects.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace pt {

namespace {

char LowerAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

constexpr std::string_view kDuplicatesNames[] = {"dupIgnore", "dupAccept", "dupError"};

} // namespace

constinit const TEnumType DuplicatesType{"TDuplicates", kDuplicatesNames};

int CompareTextNoCase(std::string_view a, std::string_view b) noexcept {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(LowerAscii(a[i]));
        unsigned char y = static_cast<unsigned char>(LowerAscii(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

// ---- TObject, TPersistent -------------------------------------------------------------------

constinit const TClassInfo TObject::ClassInfo{"TObject", nullptr, {}};

TObject::~TObject() {
    if (scriptHandle_) TfsObjectTable::Instance().Unregister(this);
}
constinit const TClassInfo TPersistent::ClassInfo{"TPersistent", &TObject::ClassInfo, {}};

void TPersistent::Assign(const TPersistent& source) {
    throw EPropertyError("Cannot assign a " + std::string(source.ClassName()) + " to a " +
                         std::string(ClassName()));
}

// ---- TComponent -----------------------------------------------------------------------------

constinit const TPropInfo TComponent::PublishedProps[] = {
    Published<tkString, &TComponent::Name, &TComponent::SetName>("Name"),
    Published<tkInteger, &TComponent::Tag, &TComponent::SetTag>("Tag"),
};
constinit const TClassInfo TComponent::ClassInfo{"TComponent", &TPersistent::ClassInfo,
                                                 TComponent::PublishedProps};

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    // Children are detached before deletion so that their destructors find no owner.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name) {
    if (!name.empty() && owner_) {
        TComponent* other = owner_->FindComponent(name);
        if (other && other != this)
            throw EPropertyError("A component named " + name + " already exists");
    }
    name_ = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const noexcept {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* c) {
    if (!c || c->owner_ == this) return;
    for (const TComponent* o = this; o; o = o->owner_)
        if (o == c) throw EPropertyError("A component cannot own itself");
    if (c->owner_) c->owner_->RemoveComponent(c);
    components_.push_back(c);
    c->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* c) noexcept {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it == components_.end()) return;
    components_.erase(it);
    c->owner_ = nullptr;
}

// ---- TStrings -------------------------------------------------------------------------------

constinit const TClassInfo TStrings::ClassInfo{"TStrings", &TPersistent::ClassInfo, {}};

void TStrings::Changed() {
    if (updateCount_ > 0) {
        pendingChange_ = true;
        return;
    }
    pendingChange_ = false;
    if (OnChange) OnChange(*this);
}

void TStrings::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0 && pendingChange_) Changed();
}

void TStrings::CheckIndex(int index, int count) const {
    if (index < 0 || index >= count)
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TStrings::AddObject(const std::string& s, TObject* obj) {
    int at = Count();
    InsertObject(at, s, obj);
    return at;
}

int TStrings::IndexOf(std::string_view s) const {
    for (int i = 0, n = Count(); i < n; ++i)
        if (SameText(Get(i), s)) return i;
    return -1;
}

void TStrings::Move(int curIndex, int newIndex) {
    if (curIndex == newIndex) return;
    CheckIndex(curIndex, Count());
    CheckIndex(newIndex, Count());
    BeginUpdate();
    std::string s = Get(curIndex);
    TObject* o = GetObject(curIndex);
    Delete(curIndex);
    InsertObject(newIndex, s, o);
    EndUpdate();
}

std::string TStrings::Names(int index) const {
    const std::string& s = Get(index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

int TStrings::IndexOfName(std::string_view name) const {
    for (int i = 0, n = Count(); i < n; ++i) {
        const std::string& s = Get(i);
        size_t eq = s.find('=');
        if (eq != std::string::npos && SameText(std::string_view(s).substr(0, eq), name)) return i;
    }
    return -1;
}

int TStrings::IndexOfObject(const TObject* obj) const noexcept {
    for (int i = 0, n = Count(); i < n; ++i)
        if (GetObject(i) == obj) return i;
    return -1;
}

std::string TStrings::Values(std::string_view name) const {
    int i = IndexOfName(name);
    if (i < 0) return {};
    const std::string& s = Get(i);
    return s.substr(s.find('=') + 1);
}

void TStrings::SetValues(std::string_view name, const std::string& value) {
    int i = IndexOfName(name);
    std::string line = std::string(name) + "=" + value;
    if (!value.empty()) {
        if (i < 0)
            Add(line);
        else
            Put(i, line);
    } else if (i >= 0) {
        Delete(i);
    }
}

std::string TStrings::Text() const {
    std::string out;
    for (int i = 0, n = Count(); i < n; ++i) {
        out += Get(i);
        out += "\r\n";
    }
    return out;
}

void TStrings::SetText(std::string_view text) {
    BeginUpdate();
    Clear();
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find_first_of("\r\n", i);
        if (j == std::string_view::npos) {
            Add(std::string(text.substr(i)));
            break;
        }
        Add(std::string(text.substr(i, j - i)));
        i = j + ((text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ? 2 : 1);
    }
    EndUpdate();
}

std::string TStrings::CommaText() const {
    std::string out;
    for (int i = 0, n = Count(); i < n; ++i) {
        if (i) out += ',';
        const std::string& s = Get(i);
        bool quote = s.empty() ? false : s.find_first_of(" ,\"") != std::string::npos;
        for (char c : s)
            if (static_cast<unsigned char>(c) < 32) quote = true;
        if (!quote) {
            out += s;
            continue;
        }
        out += '"';
        for (char c : s) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

void TStrings::SetCommaText(std::string_view text) {
    BeginUpdate();
    Clear();
    size_t i = 0, n = text.size();
    auto skipBlanks = [&] {
        while (i < n && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    };
    skipBlanks();
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ')
                item += text[i++];
        }
        Add(item);
        skipBlanks();
        if (i < n && text[i] == ',') {
            ++i;
            skipBlanks();
            if (i >= n) Add(std::string()); // a trailing comma ends with an empty entry
        }
    }
    EndUpdate();
}

bool TStrings::LoadFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    SetText(ss.str());
    return true;
}

bool TStrings::SaveToFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << Text();
    return static_cast<bool>(out.flush());
}

void TStrings::Assign(const TPersistent& source) {
    const auto* src = dynamic_cast<const TStrings*>(&source);
    if (!src) return TPersistent::Assign(source);
    if (src == this) return;
    BeginUpdate();
    Clear();
    for (int i = 0, n = src->Count(); i < n; ++i) AddObject(src->Get(i), src->GetObject(i));
    EndUpdate();
}

// ---- TStringList ----------------------------------------------------------------------------

constinit const TClassInfo TStringList::ClassInfo{"TStringList", &TStrings::ClassInfo, {}};

TStringList::TStringList(std::initializer_list<std::string> lines) {
    for (const auto& s : lines) items_.push_back({s, nullptr});
}

const std::string& TStringList::Get(int index) const {
    CheckIndex(index, Count());
    return items_[static_cast<size_t>(index)].s;
}

void TStringList::Put(int index, const std::string& s) {
    CheckIndex(index, Count());
    items_[static_cast<size_t>(index)].s = s;
    Changed();
}

TObject* TStringList::GetObject(int index) const {
    CheckIndex(index, Count());
    return items_[static_cast<size_t>(index)].obj;
}

void TStringList::PutObject(int index, TObject* obj) {
    CheckIndex(index, Count());
    items_[static_cast<size_t>(index)].obj = obj;
    Changed();
}

void TStringList::InsertObject(int index, const std::string& s, TObject* obj) {
    CheckIndex(index, Count() + 1);
    items_.insert(items_.begin() + index, Item{s, obj});
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index, Count());
    items_.erase(items_.begin() + index);
    Changed();
}

void TStringList::Clear() {
    if (items_.empty()) return;
    items_.clear();
    Changed();
}

int TStringList::AddObject(const std::string& s, TObject* obj) {
    if (!sorted_) return TStrings::AddObject(s, obj);
    int at = 0;
    if (Find(s, at)) {
        if (duplicates_ == dupIgnore) return at;
        if (duplicates_ == dupError) throw EListError("String list does not allow duplicates");
    }
    InsertObject(at, s, obj);
    return at;
}

int TStringList::IndexOf(std::string_view s) const {
    if (!sorted_) return TStrings::IndexOf(s);
    int at = 0;
    return Find(s, at) ? at : -1;
}

int TStringList::CompareStrings(std::string_view a, std::string_view b) const noexcept {
    return CompareTextNoCase(a, b);
}

bool TStringList::Find(std::string_view s, int& index) const {
    int lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = CompareStrings(items_[static_cast<size_t>(mid)].s, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (duplicates_ != dupAccept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

void TStringList::Sort() {
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const Item& a, const Item& b) { return CompareStrings(a.s, b.s) < 0; });
    Changed();
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) Sort();
    sorted_ = sorted;
}

} // namespace pt
