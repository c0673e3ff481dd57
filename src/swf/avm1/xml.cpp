// XML and XMLNode: a tree of nodes kept natively (each node object holds its links), shown to
// scripts through accessors on XMLNode.prototype; the lenient parser and the printing of Flash
// Player, with its status codes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

// Trees deeper than this are neither parsed nor printed further: a hostile document can't
// exhaust the native stack.
constexpr int kMaxDepth = 256;

enum NodeType { Element = 1, Text = 3 };

struct XmlNode : NativeData {
  int type = Element;
  Value name;   // null for a document or a text node
  Value value;  // null for an element
  Object* parent = nullptr;
  std::vector<Object*> children;
  Object* attributes = nullptr;
  Object* child_array = nullptr;  // childNodes as last given out
  bool children_changed = true;   // since child_array was made
  std::size_t at = 0;             // where it last was in its parent's children
  void Trace(std::vector<Object*>& out) const override {
    out.push_back(parent);
    out.insert(out.end(), children.begin(), children.end());
    out.push_back(attributes);
    out.push_back(child_array);
  }
  [[nodiscard]] std::size_t Bytes() const override {
    return children.size() * sizeof(std::uintptr_t) + name.s.size() + value.s.size();
  }
};

XmlNode* NodeOf(const Value& v) {
  return DataOf<XmlNode>(v);
}
XmlNode* NodeOf(Object* o) {
  return o && o->data ? dynamic_cast<XmlNode*>(o->data.get()) : nullptr;
}

Object* NodeProto(Vm& vm) {
  const Value ctor = vm.Get(vm.global, "XMLNode");
  const Value proto = vm.GetMember(ctor, "prototype");
  return proto.IsObject() ? proto.o : nullptr;
}

// Makes `self` a node of `type` with a fresh attributes object.
XmlNode& Init(Vm& vm, Object* self, int type) {
  auto node = std::make_unique<XmlNode>();
  node->type = type;
  node->name = Value::Null();
  node->value = Value::Null();
  node->attributes = vm.NewObject();
  XmlNode& made = *node;
  self->data = std::move(node);
  return made;
}
Object* NewNode(Vm& vm, int type, const std::string& text) {
  Object* o = vm.NewObject(NodeProto(vm));
  XmlNode& n = Init(vm, o, type);
  (type == Element ? n.name : n.value) = Value::Str(text);
  return o;
}

// Where `child` is among `p`'s children (its last place first): a walk over siblings stays
// linear.
std::ptrdiff_t IndexIn(const XmlNode& p, Object* child, XmlNode& c) {
  if (c.at < p.children.size() && p.children[c.at] == child) return std::ptrdiff_t(c.at);
  const auto it = std::find(p.children.begin(), p.children.end(), child);
  if (it == p.children.end()) return -1;
  c.at = std::size_t(it - p.children.begin());
  return std::ptrdiff_t(c.at);
}
void Detach(Object* child) {
  XmlNode* c = NodeOf(child);
  if (!c || !c->parent) return;
  if (XmlNode* p = NodeOf(c->parent)) {
    const std::ptrdiff_t i = IndexIn(*p, child, *c);
    if (i >= 0) p->children.erase(p->children.begin() + i);
    p->children_changed = true;
  }
  c->parent = nullptr;
}
bool IsAncestor(Object* maybe, Object* of) {
  for (int i = 0; of && i < 1 << 20; ++i) {
    if (of == maybe) return true;
    const XmlNode* n = NodeOf(of);
    of = n ? n->parent : nullptr;
  }
  return false;
}
// Puts `child` into `parent` before index `at`; false when it would make a loop.
bool Insert(Object* parent, Object* child, std::size_t at) {
  XmlNode* p = NodeOf(parent);
  XmlNode* c = NodeOf(child);
  if (!p || !c || IsAncestor(child, parent)) return false;
  if (c->parent == parent) {
    const std::ptrdiff_t i = IndexIn(*p, child, *c);
    if (i >= 0 && std::size_t(i) < at) --at;
  }
  Detach(child);
  at = std::min(at, p->children.size());
  p->children.insert(p->children.begin() + std::ptrdiff_t(at), child);
  p->children_changed = true;
  c->parent = parent;
  c->at = at;
  return true;
}

// ---- Text ----

}  // namespace

std::string EscapeXml(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

namespace {

std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out.push_back(s[i]);
      continue;
    }
    const std::size_t end = s.find(';', i);
    if (end == std::string_view::npos || end - i > 12) {
      out.push_back('&');
      continue;
    }
    const std::string_view name = s.substr(i + 1, end - i - 1);
    std::string replaced;
    if (name == "lt") replaced = "<";
    if (name == "gt") replaced = ">";
    if (name == "amp") replaced = "&";
    if (name == "quot") replaced = "\"";
    if (name == "apos") replaced = "'";
    if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string digits(name.substr(hex ? 2 : 1));
      char* stop = nullptr;
      const unsigned long u = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
      if (!digits.empty() && stop && *stop == 0 && u > 0 && u < 0x110000) {
        AppendUtf8(replaced, std::uint32_t(u));
      }
    }
    if (replaced.empty()) {
      out.push_back('&');
      continue;
    }
    out += replaced;
    i = end;
  }
  return out;
}

void Print(Vm& vm, Object* o, std::string& out, int depth) {
  const XmlNode* n = NodeOf(o);
  if (!n || depth > kMaxDepth) return;
  vm.Work(1);
  if (n->type == Text) {
    out += EscapeXml(vm.ToString(n->value));
    return;
  }
  const bool named = !n->name.IsNullish();
  if (named) {
    out += '<';
    out += vm.ToString(n->name);
    if (n->attributes) {
      for (const std::string& key : vm.Enumerate(n->attributes)) {
        out.append(" ").append(key).append("=\"");
        out += EscapeXml(vm.ToString(vm.Get(n->attributes, key)));
        out += '"';
      }
    }
    if (n->children.empty()) {
      out += " />";
      return;
    }
    out += '>';
  }
  for (Object* c : n->children) {
    Print(vm, c, out, depth + 1);
    if (out.size() > Vm::kMaxStringBytes) return;
  }
  if (named) out.append("</").append(vm.ToString(n->name)).append(">");
}

// ---- Parsing ----

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Parses `text` into `doc` (emptied first); Flash Player's status code.
int Parse(Vm& vm, Object* doc, XmlNode& d, std::string_view text, bool ignore_white) {
  for (Object* c : d.children) {
    if (XmlNode* n = NodeOf(c)) n->parent = nullptr;
  }
  d.children.clear();
  d.children_changed = true;
  std::vector<Object*> open = {doc};
  const auto add = [&](Object* node) { Insert(open.back(), node, std::size_t(-1)); };
  const auto add_text = [&](std::string_view raw, bool cdata) {
    if (raw.empty()) return;
    if (ignore_white && std::all_of(raw.begin(), raw.end(), IsWhite)) return;
    add(NewNode(vm, Text, cdata ? std::string(raw) : Unescape(raw)));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t lt = text.find('<', i);
    if (lt == std::string_view::npos) {
      add_text(text.substr(i), false);
      break;
    }
    add_text(text.substr(i, lt - i), false);
    const std::string_view rest = text.substr(lt);
    if (rest.starts_with("<!--")) {
      const std::size_t end = text.find("-->", lt + 4);
      if (end == std::string_view::npos) return -5;
      i = end + 3;
    } else if (rest.starts_with("<![CDATA[")) {
      const std::size_t end = text.find("]]>", lt + 9);
      if (end == std::string_view::npos) return -2;
      add_text(text.substr(lt + 9, end - lt - 9), true);
      i = end + 3;
    } else if (rest.starts_with("<!")) {
      const std::size_t end = text.find('>', lt);
      if (end == std::string_view::npos) return -4;
      vm.Set(doc, "docTypeDecl", Value::Str(std::string(text.substr(lt, end - lt + 1))));
      i = end + 1;
    } else if (rest.starts_with("<?")) {
      const std::size_t end = text.find("?>", lt);
      if (end == std::string_view::npos) return -3;
      const std::string decl(text.substr(lt, end - lt + 2));
      if (decl.starts_with("<?xml")) {
        const Value before = vm.Get(doc, "xmlDecl");
        vm.Set(doc, "xmlDecl", Value::Str(before.type == Type::String ? before.s + decl : decl));
      }
      i = end + 2;
    } else if (rest.starts_with("</")) {
      const std::size_t end = text.find('>', lt);
      if (end == std::string_view::npos) return -6;
      std::string_view name = text.substr(lt + 2, end - lt - 2);
      while (!name.empty() && IsWhite(name.back())) name.remove_suffix(1);
      if (open.size() == 1) return -10;
      if (vm.ToString(NodeOf(open.back())->name) != name) return -9;
      open.pop_back();
      i = end + 1;
    } else {
      // A start tag: its name, then attributes, then > or />.
      std::size_t j = lt + 1;
      while (j < text.size() && !IsWhite(text[j]) && text[j] != '>' && text[j] != '/') ++j;
      if (j >= text.size()) return -6;
      Object* element = vm.NewObject(NodeProto(vm));
      XmlNode& e = Init(vm, element, Element);
      e.name = Value::Str(std::string(text.substr(lt + 1, j - lt - 1)));
      bool closed = false;
      for (;;) {
        while (j < text.size() && IsWhite(text[j])) ++j;
        if (j >= text.size()) return -6;
        if (text[j] == '>') {
          ++j;
          break;
        }
        if (text[j] == '/') {
          if (j + 1 >= text.size() || text[j + 1] != '>') return -6;
          closed = true;
          j += 2;
          break;
        }
        const std::size_t name_start = j;
        while (j < text.size() && !IsWhite(text[j]) && text[j] != '=' && text[j] != '>' &&
               text[j] != '/') {
          ++j;
        }
        const std::string_view name = text.substr(name_start, j - name_start);
        while (j < text.size() && IsWhite(text[j])) ++j;
        if (j >= text.size() || text[j] != '=' || name.empty()) return -6;
        ++j;
        while (j < text.size() && IsWhite(text[j])) ++j;
        if (j >= text.size() || (text[j] != '"' && text[j] != '\'')) return -6;
        const char quote = text[j];
        const std::size_t end = text.find(quote, j + 1);
        if (end == std::string_view::npos) return -8;
        // The first of two attributes of one name is kept.
        if (!vm.FindOwn(e.attributes, name)) {
          vm.Set(e.attributes, name, Value::Str(Unescape(text.substr(j + 1, end - j - 1))));
        }
        j = end + 1;
      }
      add(element);
      if (!closed) {
        if (open.size() > std::size_t(kMaxDepth)) return -6;
        open.push_back(element);
      }
      i = j;
    }
  }
  return open.size() == 1 ? 0 : -9;
}

// ---- XMLNode ----

Value NodeConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  const int type = ToIntClamped(vm, Arg(args, 0));
  XmlNode& n = Init(vm, self.o, type == Text ? Text : Element);
  if (!args.empty()) {
    const Value text = Value::Str(vm.ToString(Arg(args, 1)));
    (n.type == Text ? n.value : n.name) = text;
  }
  return self;
}

Value NodeType(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  return n ? Value::Num(n->type) : Value{};
}
Value NodeName(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  return n ? n->name : Value{};
}
Value NodeSetName(Vm& vm, const Value& self, std::span<Value> args) {
  if (XmlNode* n = NodeOf(self)) {
    const Value v = Arg(args, 0);
    n->name = v.IsNullish() ? Value::Null() : Value::Str(vm.ToString(v));
  }
  return Value{};
}
Value NodeValue(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  return n ? n->value : Value{};
}
Value NodeSetValue(Vm& vm, const Value& self, std::span<Value> args) {
  if (XmlNode* n = NodeOf(self)) {
    const Value v = Arg(args, 0);
    n->value = v.IsNullish() ? Value::Null() : Value::Str(vm.ToString(v));
  }
  return Value{};
}
Value NodeAttributes(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  return n ? Value::Obj(n->attributes) : Value{};
}
Value NodeSetAttributes(Vm&, const Value& self, std::span<Value> args) {
  XmlNode* n = NodeOf(self);
  if (n && !args.empty() && args[0].IsObject()) n->attributes = args[0].o;
  return Value{};
}
Value NodeParent(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  return n->parent ? Value::Obj(n->parent) : Value::Null();
}
Value NodeChildNodes(Vm& vm, const Value& self, std::span<Value>) {
  XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  if (n->child_array && !n->children_changed) return Value::Obj(n->child_array);
  vm.Work(n->children.size());
  std::vector<Value> items;
  items.reserve(n->children.size());
  for (Object* c : n->children) items.push_back(Value::Obj(c));
  n->child_array = vm.NewArray(items);
  n->children_changed = false;
  return Value::Obj(n->child_array);
}
Value NodeFirstChild(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  return n->children.empty() ? Value::Null() : Value::Obj(n->children.front());
}
Value NodeLastChild(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  return n->children.empty() ? Value::Null() : Value::Obj(n->children.back());
}
Value Sibling(const Value& self, int step) {
  XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  const XmlNode* p = NodeOf(n->parent);
  if (!p) return Value::Null();
  const std::ptrdiff_t i = IndexIn(*p, self.o, *n);
  if (i < 0) return Value::Null();
  const std::ptrdiff_t at = i + step;
  if (at < 0 || at >= std::ptrdiff_t(p->children.size())) return Value::Null();
  return Value::Obj(p->children[std::size_t(at)]);
}
Value NodeNext(Vm&, const Value& self, std::span<Value>) {
  return Sibling(self, 1);
}
Value NodePrevious(Vm&, const Value& self, std::span<Value>) {
  return Sibling(self, -1);
}

// The part of the node's name before ':' (prefix) or after it (local name).
Value NamePart(Vm& vm, const Value& self, bool prefix) {
  const XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  if (n->name.IsNullish()) return Value::Null();
  const std::string name = vm.ToString(n->name);
  const std::size_t colon = name.find(':');
  if (colon == std::string::npos) return Value::Str(prefix ? "" : name);
  return Value::Str(prefix ? name.substr(0, colon) : name.substr(colon + 1));
}
Value NodePrefix(Vm& vm, const Value& self, std::span<Value>) {
  return NamePart(vm, self, true);
}
Value NodeLocalName(Vm& vm, const Value& self, std::span<Value>) {
  return NamePart(vm, self, false);
}
// The prefix an attribute declares a namespace for, as Flash Player reads them: "xmlns:p" for p;
// "xmlns", "xmlns:" and any other name starting "xmlns" for the default one. Nullopt for other
// attributes.
std::optional<std::string> DeclaredPrefix(std::string_view attribute) {
  if (!attribute.starts_with("xmlns")) return std::nullopt;
  attribute.remove_prefix(5);
  if (attribute.size() > 1 && attribute[0] == ':') return std::string(attribute.substr(1));
  return std::string();
}
// The namespace bound to `prefix` on the node or its ancestors, or null.
Value NamespaceFor(Vm& vm, Object* o, const std::string& prefix) {
  for (int i = 0; o && i < 1 << 20; ++i) {
    const XmlNode* n = NodeOf(o);
    if (!n) break;
    if (n->attributes) {
      for (const std::string& key : vm.Enumerate(n->attributes)) {
        if (DeclaredPrefix(key) == prefix) return vm.Get(n->attributes, key);
      }
    }
    o = n->parent;
  }
  return Value::Null();
}
Value NodeNamespaceUri(Vm& vm, const Value& self, std::span<Value>) {
  Value prefix = NamePart(vm, self, true);
  if (prefix.type != Type::String) return prefix;
  return NamespaceFor(vm, self.o, prefix.s);
}
Value NodeNamespaceForPrefix(Vm& vm, const Value& self, std::span<Value> args) {
  if (!NodeOf(self)) return Value{};
  return NamespaceFor(vm, self.o, vm.ToString(Arg(args, 0)));
}
Value NodePrefixForNamespace(Vm& vm, const Value& self, std::span<Value> args) {
  if (!NodeOf(self)) return Value{};
  const std::string uri = vm.ToString(Arg(args, 0));
  Object* o = self.o;
  for (int i = 0; o && i < 1 << 20; ++i) {
    const XmlNode* n = NodeOf(o);
    if (!n) break;
    if (n->attributes) {
      for (const std::string& key : vm.Enumerate(n->attributes)) {
        if (vm.ToString(vm.Get(n->attributes, key)) != uri) continue;
        if (const auto prefix = DeclaredPrefix(key)) return Value::Str(*prefix);
      }
    }
    o = n->parent;
  }
  return Value::Null();
}

Value NodeAppendChild(Vm&, const Value& self, std::span<Value> args) {
  const Value child = Arg(args, 0);
  if (NodeOf(self) && NodeOf(child)) Insert(self.o, child.o, std::size_t(-1));
  return Value{};
}
Value NodeInsertBefore(Vm&, const Value& self, std::span<Value> args) {
  const XmlNode* n = NodeOf(self);
  const Value child = Arg(args, 0), before = Arg(args, 1);
  if (!n || !NodeOf(child) || !before.IsObject()) return Value{};
  const auto it = std::find(n->children.begin(), n->children.end(), before.o);
  if (it == n->children.end()) return Value{};
  Insert(self.o, child.o, std::size_t(it - n->children.begin()));
  return Value{};
}
Value NodeRemoveNode(Vm&, const Value& self, std::span<Value>) {
  if (NodeOf(self)) Detach(self.o);
  return Value{};
}
Value NodeHasChildNodes(Vm&, const Value& self, std::span<Value>) {
  const XmlNode* n = NodeOf(self);
  return n ? Value::Bool(!n->children.empty()) : Value{};
}
Object* Clone(Vm& vm, Object* o, const XmlNode& n, bool deep, int depth) {
  vm.Work(1);
  Object* copy = vm.NewObject(o->proto);
  XmlNode& c = Init(vm, copy, n.type);
  c.name = n.name;
  c.value = n.value;
  if (n.attributes) {
    for (const std::string& key : vm.Enumerate(n.attributes)) {
      vm.Set(c.attributes, key, vm.Get(n.attributes, key));
    }
  }
  if (deep && depth < kMaxDepth) {
    for (Object* child : std::vector<Object*>(n.children)) {
      if (const XmlNode* cn = NodeOf(child)) {
        Insert(copy, Clone(vm, child, *cn, true, depth + 1), std::size_t(-1));
      }
    }
  }
  return copy;
}
Value NodeCloneNode(Vm& vm, const Value& self, std::span<Value> args) {
  const XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  return Value::Obj(Clone(vm, self.o, *n, vm.ToBoolean(Arg(args, 0)), 0));
}
Value NodeToString(Vm& vm, const Value& self, std::span<Value>) {
  if (!NodeOf(self)) return Value::Str("[object Object]");
  std::string out;
  Print(vm, self.o, out, 0);
  return Value::Str(out);
}

// ---- XML ----

Value XmlParse(Vm& vm, const Value& self, std::span<Value> args) {
  XmlNode* n = NodeOf(self);
  if (!n) return Value{};
  const std::string text = vm.ToString(Arg(args, 0));
  vm.Work(text.size() / 16 + 1);
  const bool ignore_white = vm.ToBoolean(vm.Get(self.o, "ignoreWhite"));
  vm.Set(self.o, "status", Value::Num(Parse(vm, self.o, *n, text, ignore_white)));
  return Value{};
}
Value XmlConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  Init(vm, self.o, Element);
  if (!args.empty() && !args[0].IsNullish()) {
    XmlParse(vm, self, args);
  } else {
    vm.Set(self.o, "status", Value::Num(0));
  }
  return self;
}
Value XmlCreateElement(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Obj(NewNode(vm, Element, vm.ToString(Arg(args, 0))));
}
Value XmlCreateTextNode(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Obj(NewNode(vm, Text, vm.ToString(Arg(args, 0))));
}
Value XmlToString(Vm& vm, const Value& self, std::span<Value> args) {
  if (!NodeOf(self)) return Value::Str("[object Object]");
  std::string out;
  for (const char* decl : {"xmlDecl", "docTypeDecl"}) {
    const Value v = vm.Get(self.o, decl);
    if (!v.IsNullish()) out += vm.ToString(v);
  }
  return Value::Str(out + NodeToString(vm, self, args).s);
}
Value XmlOnData(Vm& vm, const Value& self, std::span<Value> args) {
  return OnData(vm, self, Arg(args, 0), "parseXML");
}

}  // namespace

void InstallXml(Vm& vm) {
  Object* node_proto = nullptr;
  DefineClass(vm, vm.global, "XMLNode", NodeConstruct, &node_proto);
  Object* p = node_proto;
  DefineAccessor(vm, p, "nodeType", NodeType, nullptr);
  DefineAccessor(vm, p, "nodeName", NodeName, NodeSetName);
  DefineAccessor(vm, p, "nodeValue", NodeValue, NodeSetValue);
  DefineAccessor(vm, p, "attributes", NodeAttributes, NodeSetAttributes);
  DefineAccessor(vm, p, "parentNode", NodeParent, nullptr);
  DefineAccessor(vm, p, "childNodes", NodeChildNodes, nullptr);
  DefineAccessor(vm, p, "firstChild", NodeFirstChild, nullptr);
  DefineAccessor(vm, p, "lastChild", NodeLastChild, nullptr);
  DefineAccessor(vm, p, "nextSibling", NodeNext, nullptr);
  DefineAccessor(vm, p, "previousSibling", NodePrevious, nullptr);
  DefineAccessor(vm, p, "prefix", NodePrefix, nullptr);
  DefineAccessor(vm, p, "localName", NodeLocalName, nullptr);
  DefineAccessor(vm, p, "namespaceURI", NodeNamespaceUri, nullptr);
  vm.DefineNative(p, "getNamespaceForPrefix", NodeNamespaceForPrefix);
  vm.DefineNative(p, "getPrefixForNamespace", NodePrefixForNamespace);
  vm.DefineNative(p, "appendChild", NodeAppendChild);
  vm.DefineNative(p, "insertBefore", NodeInsertBefore);
  vm.DefineNative(p, "removeNode", NodeRemoveNode);
  vm.DefineNative(p, "hasChildNodes", NodeHasChildNodes);
  vm.DefineNative(p, "cloneNode", NodeCloneNode);
  vm.DefineNative(p, "toString", NodeToString);

  Object* xml = nullptr;
  DefineClass(vm, vm.global, "XML", XmlConstruct, &xml, node_proto);
  vm.DefineNative(xml, "parseXML", XmlParse);
  vm.DefineNative(xml, "createElement", XmlCreateElement);
  vm.DefineNative(xml, "createTextNode", XmlCreateTextNode);
  vm.DefineNative(xml, "toString", XmlToString);
  vm.DefineNative(xml, "onData", XmlOnData);
  vm.Define(xml, "contentType", Value::Str("application/x-www-form-urlencoded"), DontEnum);
  vm.Define(xml, "ignoreWhite", Value::Bool(false), DontEnum);
  vm.Define(xml, "loaded", Value{}, DontEnum);
}

}  // namespace swf::avm1
