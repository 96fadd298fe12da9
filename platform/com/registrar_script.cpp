#include "platform/com/registrar_script.h"

#include <cerrno>
#include <cwchar>
#include <cwctype>

namespace kestnet::platform {

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    wint_t x = std::towlower(a[i]);
    wint_t y = std::towlower(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

namespace {

struct RootName {
  const wchar_t* name;
  HKEY key;
};

const RootName kRootNames[] = {
    {L"HKCR", HKEY_CLASSES_ROOT},         {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER},         {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", HKEY_LOCAL_MACHINE},        {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},                 {L"HKEY_USERS", HKEY_USERS},
};

struct KeywordFlag {
  const wchar_t* word;
  RegistrarKeyFlag flag;
};

const KeywordFlag kKeyFlags[] = {
    {L"NoRemove", RegistrarKeyFlag::NoRemove},
    {L"ForceRemove", RegistrarKeyFlag::ForceRemove},
    {L"Delete", RegistrarKeyFlag::Delete},
};

bool SameWord(const std::wstring& a, const wchar_t* b) {
  CaseInsensitiveLess less;
  std::wstring other(b);
  return !less(a, other) && !less(other, a);
}

struct Token {
  std::wstring text;
  bool quoted = false;
  size_t offset = 0;
};

class Parser {
 public:
  explicit Parser(const std::wstring& text) : text_(text) {}

  HRESULT Parse(std::vector<RegistrarRoot>* roots) {
    Token token;
    while (Next(&token)) {
      RegistrarRoot root;
      if (token.quoted || !FindRoot(token.text, &root.root)) return Fail(token.offset, L"unknown root key");
      if (!Expect(L"{")) return E_FAIL;
      HRESULT hr = ParseKeys(&root.keys);
      if (FAILED(hr)) return hr;
      if (!pendingValues_.empty()) return Fail(token.offset, L"a root key cannot hold named values");
      roots->push_back(std::move(root));
    }
    return failed_ ? E_FAIL : S_OK;
  }

  RegistrarParseError error;

 private:
  static bool FindRoot(const std::wstring& name, HKEY* key) {
    for (const RootName& root : kRootNames) {
      if (SameWord(name, root.name)) {
        *key = root.key;
        return true;
      }
    }
    return false;
  }

  HRESULT Fail(size_t offset, const wchar_t* message) {
    if (!failed_) {
      error.offset = offset;
      error.message = message;
    }
    failed_ = true;
    return E_FAIL;
  }

  void SkipBlanks() {
    while (position_ < text_.size() && std::iswspace(text_[position_])) ++position_;
  }

  // The next token: a quoted string, one of "{}=", or a bare word.
  bool Next(Token* token) {
    SkipBlanks();
    if (position_ >= text_.size() || failed_) return false;
    token->offset = position_;
    token->text.clear();
    token->quoted = false;
    wchar_t c = text_[position_];
    if (c == L'{' && !LooksLikeGuid()) {
      ++position_;
      token->text = L"{";
      return true;
    }
    if (c == L'}' || c == L'=') {
      ++position_;
      token->text.assign(1, c);
      return true;
    }
    if (c == L'\'') {
      token->quoted = true;
      ++position_;
      while (true) {
        if (position_ >= text_.size()) {
          Fail(token->offset, L"unterminated quoted string");
          return false;
        }
        wchar_t q = text_[position_++];
        if (q == L'\'') {
          if (position_ < text_.size() && text_[position_] == L'\'') {
            token->text.push_back(L'\'');
            ++position_;
            continue;
          }
          break;
        }
        token->text.push_back(q);
      }
      return true;
    }
    while (position_ < text_.size()) {
      wchar_t b = text_[position_];
      if (std::iswspace(b) || b == L'=' || b == L'\'' || (b == L'}' && !InsideBracedName(token->text))) break;
      if (b == L'{' && !token->text.empty()) break;
      token->text.push_back(b);
      ++position_;
    }
    return true;
  }

  // A bare key name may be a braced GUID ("{2E13...}"), which is a name, not a block.
  bool LooksLikeGuid() const {
    size_t end = text_.find(L'}', position_);
    if (end == std::wstring::npos || end - position_ != 37) return false;
    for (size_t i = position_ + 1; i < end; ++i) {
      wchar_t c = text_[i];
      if (!std::iswxdigit(c) && c != L'-') return false;
    }
    return true;
  }
  static bool InsideBracedName(const std::wstring& sofar) { return !sofar.empty() && sofar[0] == L'{'; }

  bool Expect(const wchar_t* what) {
    Token token;
    if (!Next(&token) || token.quoted || token.text != what) {
      Fail(token.offset, (std::wstring(L"expected ") + what).c_str());
      return false;
    }
    return true;
  }

  bool Peek(Token* token) {
    size_t saved = position_;
    bool ok = Next(token);
    position_ = saved;
    return ok;
  }

  HRESULT ParseValue(RegistrarValue* value) {
    Token type;
    Token data;
    if (!Next(&type) || type.quoted) return Fail(type.offset, L"expected a value type");
    if (!Next(&data) || (!data.quoted && data.text.empty())) return Fail(data.offset, L"expected a value");
    if (SameWord(type.text, L"s") || SameWord(type.text, L"e")) {
      value->type = SameWord(type.text, L"s") ? REG_SZ : REG_EXPAND_SZ;
      AppendText(data.text, &value->data);
      return S_OK;
    }
    if (SameWord(type.text, L"d")) {
      const std::wstring& t = data.text;
      wchar_t* end = nullptr;
      errno = 0;
      unsigned long long number = std::wcstoull(t.c_str(), &end, 0);
      if (t.empty() || end != t.c_str() + t.size() || errno != 0 || number > 0xFFFFFFFFull || t[0] == L'-') {
        return Fail(data.offset, L"bad DWORD value");
      }
      value->type = REG_DWORD;
      auto dword = static_cast<DWORD>(number);
      value->data.assign(reinterpret_cast<BYTE*>(&dword), reinterpret_cast<BYTE*>(&dword) + sizeof(dword));
      return S_OK;
    }
    if (SameWord(type.text, L"b")) {
      if (data.text.size() % 2 != 0) return Fail(data.offset, L"bad binary value");
      value->type = REG_BINARY;
      for (size_t i = 0; i < data.text.size(); i += 2) {
        int high = HexDigit(data.text[i]);
        int low = HexDigit(data.text[i + 1]);
        if (high < 0 || low < 0) return Fail(data.offset, L"bad binary value");
        value->data.push_back(static_cast<BYTE>(high * 16 + low));
      }
      return S_OK;
    }
    if (SameWord(type.text, L"m")) {
      value->type = REG_MULTI_SZ;
      std::wstring items;
      for (size_t i = 0; i < data.text.size(); ++i) {
        if (data.text[i] == L'\\' && i + 1 < data.text.size() && data.text[i + 1] == L'0') {
          items.push_back(L'\0');
          ++i;
        } else {
          items.push_back(data.text[i]);
        }
      }
      items.push_back(L'\0');  // the list's closing empty item
      AppendText(items, &value->data);
      return S_OK;
    }
    return Fail(type.offset, L"unknown value type");
  }

  static int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
  }

  static void AppendText(const std::wstring& text, std::vector<BYTE>* data) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    data->assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
  }

  // Keys up to and including the closing brace.
  HRESULT ParseKeys(std::vector<RegistrarKey>* keys) {
    Token token;
    while (Next(&token)) {
      if (!token.quoted && token.text == L"}") return S_OK;
      if (!token.quoted && (token.text == L"{" || token.text == L"=")) return Fail(token.offset, L"expected a key name");
      if (!token.quoted && SameWord(token.text, L"val")) {
        Token name;
        if (!Next(&name) || (!name.quoted && (name.text == L"{" || name.text == L"}" || name.text == L"="))) {
          return Fail(name.offset, L"expected a value name");
        }
        if (!Expect(L"=")) return E_FAIL;
        RegistrarValue value;
        HRESULT hr = ParseValue(&value);
        if (FAILED(hr)) return hr;
        // A named value belongs to the enclosing key, which the caller holds.
        pendingValues_.emplace_back(name.text, std::move(value));
        continue;
      }
      RegistrarKey key;
      if (!token.quoted) {
        for (const KeywordFlag& keyword : kKeyFlags) {
          if (SameWord(token.text, keyword.word)) {
            key.flag = keyword.flag;
            if (!Next(&token) || (!token.quoted && (token.text == L"{" || token.text == L"}" || token.text == L"="))) {
              return Fail(token.offset, L"expected a key name");
            }
            break;
          }
        }
      }
      if (token.text.empty() || token.text.find(L'\\') != std::wstring::npos) {
        return Fail(token.offset, L"bad key name");
      }
      key.name = token.text;
      Token next;
      if (Peek(&next) && !next.quoted && next.text == L"=") {
        Next(&next);
        RegistrarValue value;
        HRESULT hr = ParseValue(&value);
        if (FAILED(hr)) return hr;
        key.defaultValue = std::move(value);
      }
      if (Peek(&next) && !next.quoted && next.text == L"{") {
        Next(&next);
        auto outerValues = std::move(pendingValues_);
        pendingValues_.clear();
        HRESULT hr = ParseKeys(&key.subkeys);
        if (FAILED(hr)) return hr;
        key.namedValues = std::move(pendingValues_);
        pendingValues_ = std::move(outerValues);
      }
      keys->push_back(std::move(key));
    }
    return Fail(text_.size(), L"missing closing brace");
  }

  const std::wstring& text_;
  size_t position_ = 0;
  bool failed_ = false;
  std::vector<std::pair<std::wstring, RegistrarValue>> pendingValues_;
};

HRESULT Substitute(const std::wstring& script, const RegistrarReplacements& replacements, std::wstring* out,
                   RegistrarParseError* error) {
  out->clear();
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] != L'%') {
      out->push_back(script[i]);
      continue;
    }
    size_t end = script.find(L'%', i + 1);
    if (end == std::wstring::npos) {
      if (error != nullptr) *error = RegistrarParseError{i, L"unterminated replacement variable"};
      return DISP_E_EXCEPTION;
    }
    if (end == i + 1) {
      out->push_back(L'%');
    } else {
      auto found = replacements.find(script.substr(i + 1, end - i - 1));
      if (found == replacements.end()) {
        if (error != nullptr) *error = RegistrarParseError{i, L"unknown replacement variable"};
        return DISP_E_EXCEPTION;
      }
      *out += found->second;
    }
    i = end;
  }
  return S_OK;
}

}  // namespace

HRESULT ParseRegistrarScript(const std::wstring& script, const RegistrarReplacements& replacements,
                             std::vector<RegistrarRoot>* roots, RegistrarParseError* error) {
  if (roots == nullptr) return E_POINTER;
  roots->clear();
  std::wstring text;
  HRESULT hr = Substitute(script, replacements, &text, error);
  if (FAILED(hr)) return hr;
  Parser parser(text);
  hr = parser.Parse(roots);
  if (FAILED(hr)) {
    if (error != nullptr) *error = parser.error;
    roots->clear();
    return DISP_E_EXCEPTION;
  }
  return S_OK;
}

}  // namespace kestnet::platform
