#include "standins/iis/metabase.h"

#include <algorithm>
#include <atomic>
#include <charconv>

#include "platform/system.h"
#include "platform/utf8.h"

namespace quorvel::iis {
namespace {

constexpr char kHeader[] = "QUORVEL-METABASE 1";

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = line.find('\t', start);
        fields.push_back(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return fields;
        start = end + 1;
    }
}

template <typename Int>
std::optional<Int> ParseInt(std::string_view text) {
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

void UpperKeyInto(std::u16string_view text, Text& out) {
    out.assign(text);
    for (char16_t& c : out) c = base::ToUpperAscii(c);
}

bool IsKey(std::u16string_view text, std::u16string_view upper) { return base::EqualsIgnoringAsciiCase(text, upper); }

bool IsStorable(std::u16string_view text) { return platform::IsWellFormedUtf16(text); }

bool IsStorableValue(const Value& value) {
    if (const auto* text = std::get_if<Text>(&value)) return IsStorable(*text);
    if (const auto* list = std::get_if<TextList>(&value))
        return std::all_of(list->begin(), list->end(), [](const Text& element) { return IsStorable(element); });
    return true;
}

Text JoinPath(std::u16string_view parent, std::u16string_view name) {
    if (parent.empty()) return Text(name);
    return Text(parent) + u'/' + Text(name);
}

Text ParentPath(std::u16string_view path) {
    const size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? Text() : Text(path.substr(0, slash));
}

Text LastName(std::u16string_view path) {
    const size_t slash = path.rfind(u'/');
    return Text(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

ValueType TypeOf(const Value& value) { return static_cast<ValueType>(value.index()); }

std::string EncodeValue(const Value& value) {
    switch (TypeOf(value)) {
        case ValueType::kString: return platform::ToUtf8(std::get<Text>(value));
        case ValueType::kLong: return std::to_string(std::get<std::int32_t>(value));
        case ValueType::kShort: return std::to_string(std::get<std::int16_t>(value));
        case ValueType::kBool: return std::get<bool>(value) ? "1" : "0";
        case ValueType::kList: {
            std::string out;
            const auto& list = std::get<TextList>(value);
            for (size_t i = 0; i < list.size(); ++i) {
                if (i > 0) out += '\t';
                out += Escape(platform::ToUtf8(list[i]));
            }
            // An empty list and a list of one empty element differ.
            return list.empty() ? std::string() : "\t" + out;
        }
    }
    return {};
}

std::optional<Value> DecodeValue(ValueType type, std::string_view text) {
    switch (type) {
        case ValueType::kString: return Value(platform::FromUtf8(text));
        case ValueType::kLong:
            if (auto n = ParseInt<std::int32_t>(text)) return Value(*n);
            return std::nullopt;
        case ValueType::kShort:
            if (auto n = ParseInt<std::int16_t>(text)) return Value(*n);
            return std::nullopt;
        case ValueType::kBool:
            if (text == "1" || text == "0") return Value(text == "1");
            return std::nullopt;
        case ValueType::kList: {
            TextList list;
            if (text.empty()) return Value(list);
            if (text.front() != '\t') return std::nullopt;
            for (std::string_view field : Fields(text.substr(1))) {
                auto element = Unescape(field);
                if (!element) return std::nullopt;
                list.push_back(platform::FromUtf8(*element));
            }
            return Value(std::move(list));
        }
    }
    return std::nullopt;
}

bool IsSecretProperty(std::u16string_view name) {
    const Text key = UpperKey(name);
    for (const char16_t* secret : {u"ANONYMOUSUSERPASS", u"WAMUSERPASS", u"UNCPASSWORD", u"LOGODBCPASSWORD"})
        if (key == secret) return true;
    return false;
}

StoredValue StoredForm(const Property& property) {
    const ValueType type = TypeOf(property.value);
    if (type != ValueType::kString || !IsSecretProperty(property.name))
        return {static_cast<int>(type), EncodeValue(property.value)};
    auto sealed = SealSecret(EncodeValue(property.value));
    if (!sealed) throw DirectoryError(kStoreFailure);
    return {kSealedString, std::move(*sealed)};
}

std::optional<Value> ValueOfStored(int type, std::string_view text) {
    if (type == kSealedString) {
        const auto plain = OpenSecret(text);
        if (!plain) return std::nullopt;
        return DecodeValue(ValueType::kString, *plain);
    }
    if (type < 0 || type > static_cast<int>(ValueType::kList)) return std::nullopt;
    return DecodeValue(static_cast<ValueType>(type), text);
}

Tree::Tree() {
    nodes_[Text()] = Node{u"", u"IIsComputer", std::make_shared<const Properties>(), {u"W3SVC"}};
    nodes_[u"W3SVC"] = Node{u"W3SVC", u"IIsWebService", std::make_shared<const Properties>(), {}};
}

const Node* Tree::Find(std::u16string_view path) const {
    thread_local Text key;
    UpperKeyInto(path, key);
    return FindKey(key);
}

void Tree::Check(const Change& change) const {
    const Text key = UpperKey(change.path);
    for (const auto& [name, property] : change.properties)
        if (!IsStorable(property.name) || !IsStorableValue(property.value)) throw DirectoryError(kInvalidArgument);
    switch (change.kind) {
        case Change::Kind::kCreate: {
            const Text name = LastName(change.path);
            if (name.empty() || change.cls.empty() || !IsStorable(change.path) || !IsStorable(change.cls))
                throw DirectoryError(kInvalidArgument);
            if (!nodes_.contains(UpperKey(ParentPath(change.path)))) throw DirectoryError(kPathNotFound);
            if (nodes_.contains(key)) throw DirectoryError(kAlreadyExists);
            return;
        }
        case Change::Kind::kPut:
            if (!nodes_.contains(key)) throw DirectoryError(kPathNotFound);
            return;
        case Change::Kind::kDelete:
            if (key.empty()) throw DirectoryError(kInvalidArgument);
            if (!nodes_.contains(key)) throw DirectoryError(kPathNotFound);
            return;
    }
}

ChildList Tree::Children(std::u16string_view path) const {
    thread_local Text key;
    UpperKeyInto(path, key);
    const Node* node = FindKey(key);
    if (node == nullptr) return nullptr;
    std::shared_ptr<std::vector<Child>>& kept = children_[key];
    if (!kept) {
        auto children = std::make_shared<std::vector<Child>>();
        children->reserve(node->children.size());
        for (const Text& child : node->children) {
            const Node& found = nodes_.at(child);
            children->push_back({found.name, found.cls});
        }
        kept = std::move(children);
    }
    return kept;
}

std::vector<Child>* Tree::OwnList(const Text& key) {
    const auto it = children_.find(key);
    if (it == children_.end()) return nullptr;
    if (it->second.use_count() == 1) return it->second.get();
    children_.erase(it);
    return nullptr;
}

void Tree::Apply(const Change& change) {
    Check(change);
    const Text key = UpperKey(change.path);
    switch (change.kind) {
        case Change::Kind::kCreate: {
            const Text parent = UpperKey(ParentPath(change.path));
            Node& made = nodes_[key] =
                Node{LastName(change.path), change.cls, std::make_shared<const Properties>(change.properties), {}};
            nodes_.at(parent).children.push_back(key);
            children_.erase(key);
            if (std::vector<Child>* list = OwnList(parent)) list->push_back({made.name, made.cls});
            return;
        }
        case Change::Kind::kPut: {
            SharedProperties& shared = nodes_.at(key).properties;
            auto properties = std::make_shared<Properties>(*shared);
            for (const auto& [name, property] : change.properties) (*properties)[name] = property;
            shared = std::move(properties);
            return;
        }
        case Change::Kind::kDelete: {
            const Text parent = ParentPath(key);
            auto& siblings = nodes_.at(parent).children;
            if (std::vector<Child>* list = OwnList(parent)) {
                // The list runs beside the keys, one child for one key.
                const auto at = std::find(siblings.begin(), siblings.end(), key);
                if (at != siblings.end() && list->size() == siblings.size()) {
                    list->erase(list->begin() + (at - siblings.begin()));
                } else {
                    children_.erase(parent);
                }
            }
            siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
            // The lists of what goes with it.
            const Text below = key + u"/";
            std::erase_if(children_, [&](const auto& kept) {
                return kept.first == key || std::u16string_view(kept.first).starts_with(below);
            });
            Remove(key);
            return;
        }
    }
}

void Tree::Remove(const Text& key) {
    const auto it = nodes_.find(key);
    if (it == nodes_.end()) return;
    const std::vector<Text> children = std::move(it->second.children);
    nodes_.erase(it);
    for (const Text& child : children) Remove(child);
}

std::string Tree::Serialize() const {
    std::string out = std::string(kHeader) + "\n";
    // Objects carry their path as spelled, parents before children.
    std::unordered_map<Text, Text> spelled;
    Walk([&](const Text& key, const Node& node) {
        const Text path = key.empty() ? Text() : JoinPath(spelled.at(UpperKey(ParentPath(key))), node.name);
        spelled[key] = path;
        out += "O\t" + Escape(platform::ToUtf8(path)) + "\t" + Escape(platform::ToUtf8(node.cls)) + "\n";
        for (const auto& [name, property] : *node.properties) {
            const StoredValue stored = StoredForm(property);
            out += "P\t" + Escape(platform::ToUtf8(property.name)) + "\t" + std::to_string(stored.type) + "\t" +
                   Escape(stored.text) + "\n";
        }
    });
    return out;
}

std::optional<Tree> Tree::Parse(std::string_view text) {
    Tree tree;
    tree.nodes_.clear();
    Text current;
    // The current object's properties, filled while its lines come.
    std::shared_ptr<Properties> filling;
    bool have_root = false;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            if (line != kHeader) return std::nullopt;
            first = false;
            continue;
        }
        if (line.empty()) continue;
        const auto fields = Fields(line);
        if (fields[0] == "O" && fields.size() == 3) {
            auto path = Unescape(fields[1]);
            auto cls = Unescape(fields[2]);
            if (!path || !cls) return std::nullopt;
            const Text upath = platform::FromUtf8(*path);
            current = UpperKey(upath);
            if (current.empty()) {
                if (have_root) return std::nullopt;
                filling = std::make_shared<Properties>();
                tree.nodes_[current] = Node{u"", platform::FromUtf8(*cls), filling, {}};
                have_root = true;
                continue;
            }
            const auto parent = tree.nodes_.find(UpperKey(ParentPath(upath)));
            if (parent == tree.nodes_.end() || tree.nodes_.contains(current)) return std::nullopt;
            parent->second.children.push_back(current);
            filling = std::make_shared<Properties>();
            tree.nodes_[current] = Node{LastName(upath), platform::FromUtf8(*cls), filling, {}};
        } else if (fields[0] == "P" && fields.size() == 4 && have_root) {
            auto name = Unescape(fields[1]);
            auto type = ParseInt<int>(fields[2]);
            auto encoded = Unescape(fields[3]);
            if (!name || !type || !encoded) return std::nullopt;
            auto value = ValueOfStored(*type, *encoded);
            if (!value) return std::nullopt;
            const Text uname = platform::FromUtf8(*name);
            (*filling)[UpperKey(uname)] = Property{uname, std::move(*value)};
        } else {
            return std::nullopt;
        }
    }
    if (!have_root) return std::nullopt;
    return tree;
}

namespace {

std::atomic<std::uint64_t> g_look_again{0};

}  // namespace

void LookAtStoreAgain() { g_look_again.fetch_add(1, std::memory_order_release); }

std::uint64_t LookAtStoreAgainCount() { return g_look_again.load(std::memory_order_acquire); }

bool Store::IsComputerName(std::u16string_view name) { return IsThisComputer(name); }

bool IsThisComputer(std::u16string_view name) {
    if (IsKey(name, u"LOCALHOST")) return true;
    std::string computer;
    return platform::GetComputerName(computer) && !computer.empty() && IsKey(name, UpperKey(platform::FromUtf8(computer)));
}

}  // namespace quorvel::iis
