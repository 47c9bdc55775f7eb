// glintplayer: the sandboxed player's stand-in. It creates the broker the
// way the player does (a local server, asking for IGlintBroker6) and runs a
// session of broker calls, printing each call with its HRESULT and out-values.
//
//   glintplayer [--script FILE] [CALL]...
//
// A call is Name(arg, ...): numbers (decimal, or 0x hexadecimal), "quoted
// strings" ("" inside for a quote), hex:0A0B... or text:... byte arrays, and null.
// Structures are byte arrays written as their fields, separated by spaces:
//   rect:L T R B   box:X Y W H   ints:N...   points:X Y...   xform:M11 M12 M21 M22 DX DY
//   logfont:HEIGHT WEIGHT FACE   header:WIDTH HEIGHT BITS ENTRIES [RRGGBB...]
//   atext:TEXT and wtext:TEXT (with their terminator)   fill:COUNT BYTE
// Out-parameters are not written: they are filled in and printed. A call may
// end in "-> name=parameter ..." to keep out-values under names that later
// calls use as $name. A script has one call a line; '#' starts a comment
// line; "sleep MS" pauses; "release" lets go of the broker object while the
// player goes on.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "broker/GlintBroker.h"

namespace {

std::string Utf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

struct Parameter {
  std::wstring name;
  VARTYPE type;  // the value's type (VT_I8 for the LONG_PTR alias)
  bool pointer;  // passed by reference
  USHORT flags;  // PARAMFLAG_*
};

struct Method {
  std::wstring name;
  SHORT vtableOffset;
  std::vector<Parameter> params;
};

VARTYPE BaseType(const TYPEDESC& desc, bool* pointer) {
  *pointer = desc.vt == VT_PTR;
  const TYPEDESC& base = desc.vt == VT_PTR ? *desc.lptdesc : desc;
  if (base.vt == VT_USERDEFINED) return VT_I8;  // the LONG_PTR alias
  if (base.vt == VT_SAFEARRAY) return VT_ARRAY | VT_UI1;
  return base.vt;
}

// Every method of the interface and its bases, by name.
bool LoadMethods(ITypeInfo* info, std::map<std::wstring, Method>& methods) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return false;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    BSTR names[16] = {};
    UINT count = 0;
    info->GetNames(func->memid, names, 16, &count);
    Method method{names[0] ? names[0] : L"", func->oVft, {}};
    for (SHORT p = 0; p < func->cParams; ++p) {
      const ELEMDESC& element = func->lprgelemdescParam[p];
      Parameter parameter{};
      parameter.name = static_cast<UINT>(p + 1) < count && names[p + 1] ? names[p + 1] : L"";
      parameter.type = BaseType(element.tdesc, &parameter.pointer);
      parameter.flags = element.paramdesc.wParamFlags;
      method.params.push_back(parameter);
    }
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    methods[method.name] = method;
    info->ReleaseFuncDesc(func);
  }
  bool ok = true;
  if (attr->cImplTypes > 0) {
    HREFTYPE base = 0;
    ITypeInfo* baseInfo = nullptr;
    if (SUCCEEDED(info->GetRefTypeOfImplType(0, &base)) &&
        SUCCEEDED(info->GetRefTypeInfo(base, &baseInfo))) {
      ok = LoadMethods(baseInfo, methods);
      baseInfo->Release();
    }
  }
  info->ReleaseTypeAttr(attr);
  return ok;
}

// One argument as written in a call.
struct Token {
  enum Kind { Number, String, Bytes, Null } kind = Null;
  long long number = 0;
  std::wstring text;
  std::vector<BYTE> bytes;
};

// The out-values kept by name.
std::map<std::wstring, long long> g_named;

template <typename T>
void Append(std::vector<BYTE>& bytes, T value) {
  const BYTE* raw = reinterpret_cast<const BYTE*>(&value);
  bytes.insert(bytes.end(), raw, raw + sizeof value);
}

// A structure written as its fields; false for an unknown kind.
bool ParseStructure(const std::wstring& word, std::vector<BYTE>& bytes, std::string& error) {
  const size_t colon = word.find(L':');
  const std::wstring kind = word.substr(0, colon), rest = word.substr(colon + 1);
  std::wistringstream fields(rest);
  if (kind == L"rect" || kind == L"box" || kind == L"ints" || kind == L"points") {
    long long value = 0;
    while (fields >> value) Append(bytes, static_cast<int32_t>(value));
  } else if (kind == L"xform") {
    float value = 0;
    while (fields >> value) Append(bytes, value);
    if (bytes.size() != 24) error = "xform: needs six numbers";
  } else if (kind == L"logfont") {
    LOGFONTW font{};
    std::wstring face;
    fields >> font.lfHeight >> font.lfWeight;
    std::getline(fields >> std::ws, face);
    wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    Append(bytes, font);
  } else if (kind == L"header") {
    BITMAPINFOHEADER header{};
    int entries = 0;
    header.biSize = sizeof header;
    header.biPlanes = 1;
    fields >> header.biWidth >> header.biHeight >> header.biBitCount >> entries;
    Append(bytes, header);
    unsigned long colour = 0;
    for (int i = 0; i < entries; ++i) {
      colour = 0;
      fields >> std::hex >> colour;
      Append(bytes, static_cast<uint32_t>(colour));  // 0xRRGGBB is an RGBQUAD's order
    }
  } else if (kind == L"atext") {
    std::string narrow = Utf8(rest);
    bytes.assign(narrow.begin(), narrow.end());
    bytes.push_back(0);
  } else if (kind == L"wtext") {
    for (wchar_t unit : rest) Append(bytes, static_cast<uint16_t>(unit));
    Append(bytes, uint16_t{0});
  } else if (kind == L"fill") {
    unsigned long count = 0, value = 0;
    fields >> count >> std::hex >> value;
    bytes.assign(count, static_cast<BYTE>(value));
  } else {
    return false;
  }
  if (fields.bad()) error = Utf8(kind) + ": bad field";
  return true;
}

bool ParseArguments(const std::wstring& list, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  auto skip = [&] {
    while (i < list.size() && iswspace(list[i])) ++i;
  };
  skip();
  if (i == list.size()) return true;
  while (true) {
    skip();
    Token token;
    token.kind = Token::Null;
    if (i < list.size() && list[i] == L'"') {
      token.kind = Token::String;
      ++i;
      // "" inside a string stands for one quote; backslashes are plain.
      while (i < list.size() && (list[i] != L'"' || (i + 1 < list.size() && list[i + 1] == L'"'))) {
        if (list[i] == L'"') ++i;
        token.text += list[i++];
      }
      if (i == list.size()) {
        error = "unterminated string";
        return false;
      }
      ++i;
    } else {
      size_t start = i;
      while (i < list.size() && list[i] != L',') ++i;
      std::wstring word = list.substr(start, i - start);
      while (!word.empty() && iswspace(word.back())) word.pop_back();
      if (word == L"null") {
        token.kind = Token::Null;
      } else if (word.rfind(L"hex:", 0) == 0) {
        token.kind = Token::Bytes;
        for (size_t k = 4; k + 1 < word.size(); k += 2) {
          token.bytes.push_back(
              static_cast<BYTE>(std::wcstoul(word.substr(k, 2).c_str(), nullptr, 16)));
        }
      } else if (word.rfind(L"text:", 0) == 0) {
        token.kind = Token::Bytes;
        std::string utf8 = Utf8(word.substr(5));
        token.bytes.assign(utf8.begin(), utf8.end());
      } else if (word.size() > 1 && word[0] == L'$') {
        auto named = g_named.find(word.substr(1));
        if (named == g_named.end()) {
          error = "no out-value named " + Utf8(word.substr(1));
          return false;
        }
        token.kind = Token::Number;
        token.number = named->second;
      } else if (word.find(L':') != std::wstring::npos &&
                 ParseStructure(word, token.bytes, error)) {
        token.kind = Token::Bytes;
        if (!error.empty()) return false;
      } else if (!word.empty() && (iswdigit(word[0]) || word[0] == L'-')) {
        token.kind = Token::Number;
        token.number = std::wcstoll(word.c_str(), nullptr, 0);
      } else {
        token.kind = Token::String;  // a bare word is a string
        token.text = word;
      }
    }
    out.push_back(token);
    skip();
    if (i == list.size()) return true;
    if (list[i] != L',') {
      error = "expected ',' between arguments";
      return false;
    }
    ++i;
  }
}

SAFEARRAY* MakeBytes(const std::vector<BYTE>& bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (array != nullptr && !bytes.empty()) {
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
  }
  return array;
}

std::string DescribeBytes(SAFEARRAY* array) {
  if (array == nullptr) return "null";
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  LONG count = high - low + 1;
  std::string out = std::to_string(count) + " bytes";
  BYTE* data = nullptr;
  if (count > 0 && SUCCEEDED(SafeArrayAccessData(array, reinterpret_cast<void**>(&data)))) {
    out += " hex:";
    char hex[3];
    for (LONG k = 0; k < count && k < 64; ++k) {
      std::snprintf(hex, sizeof hex, "%02X", data[k]);
      out += hex;
    }
    if (count > 64) out += "...";
    SafeArrayUnaccessData(array);
  }
  return out;
}

std::string DescribeVariant(const VARIANT& v) {
  if (V_VT(&v) == (VT_ARRAY | VT_UI1)) return DescribeBytes(V_ARRAY(&v));
  if (V_VT(&v) == (VT_ARRAY | VT_BSTR)) {
    std::string out = "[";
    LONG low = 0, high = -1;
    SafeArrayGetLBound(V_ARRAY(&v), 1, &low);
    SafeArrayGetUBound(V_ARRAY(&v), 1, &high);
    for (LONG k = low; k <= high; ++k) {
      BSTR item = nullptr;
      SafeArrayGetElement(V_ARRAY(&v), &k, &item);
      out += (k > low ? ", \"" : "\"") + Utf8(item ? item : L"") + "\"";
      SysFreeString(item);
    }
    return out + "]";
  }
  if (V_VT(&v) == VT_EMPTY) return "empty";
  return "variant type " + std::to_string(V_VT(&v));
}

// Runs one call; false when it could not be made at all.
bool RunCall(IGlintBroker6* broker, const std::map<std::wstring, Method>& methods,
             const std::wstring& whole) {
  // "-> name=parameter ..." after the call keeps out-values by name.
  std::wstring line = whole;
  std::vector<std::pair<std::wstring, std::wstring>> keep;
  if (size_t arrow = whole.rfind(L"->"); arrow != std::wstring::npos && whole.rfind(L')') < arrow) {
    line = whole.substr(0, arrow);
    std::wistringstream names(whole.substr(arrow + 2));
    std::wstring pair;
    while (names >> pair) {
      const size_t equals = pair.find(L'=');
      if (equals != std::wstring::npos)
        keep.push_back({pair.substr(0, equals), pair.substr(equals + 1)});
    }
  }
  size_t open = line.find(L'(');
  std::wstring name = line.substr(0, open);
  while (!name.empty() && iswspace(name.back())) name.pop_back();
  std::wstring argumentText;
  if (open != std::wstring::npos) {
    size_t close = line.rfind(L')');
    if (close == std::wstring::npos || close < open) {
      std::printf("%s: missing ')'\n", Utf8(line).c_str());
      return false;
    }
    argumentText = line.substr(open + 1, close - open - 1);
  }
  auto found = methods.find(name);
  if (found == methods.end()) {
    std::printf("%s: no such broker method\n", Utf8(name).c_str());
    return false;
  }
  const Method& method = found->second;
  std::vector<Token> tokens;
  std::string error;
  if (!ParseArguments(argumentText, tokens, error)) {
    std::printf("%s: %s\n", Utf8(name).c_str(), error.c_str());
    return false;
  }

  size_t count = method.params.size();
  std::vector<VARIANT> storage(count);    // values and out-value storage
  std::vector<VARIANT> arguments(count);  // what is passed
  std::vector<VARIANTARG*> pointers(count);
  std::vector<VARTYPE> types(count);
  size_t next = 0;
  for (size_t p = 0; p < count; ++p) {
    VariantInit(&storage[p]);
    VariantInit(&arguments[p]);
    USHORT flags = method.params[p].flags;
    bool pointer = method.params[p].pointer;
    VARTYPE base = method.params[p].type;
    bool takesInput = (flags & PARAMFLAG_FIN) || !(flags & PARAMFLAG_FOUT);
    bool optional = flags & PARAMFLAG_FOPT;
    V_VT(&storage[p]) = base;
    if (takesInput && next < tokens.size()) {
      const Token& t = tokens[next++];
      switch (base) {
        case VT_BSTR:
          V_BSTR(&storage[p]) = t.kind == Token::Null ? nullptr : SysAllocString(t.text.c_str());
          break;
        case VT_LPWSTR:
          V_BSTR(&storage[p]) = t.kind == Token::Null ? nullptr : SysAllocString(t.text.c_str());
          break;
        case VT_ARRAY | VT_UI1:
          V_ARRAY(&storage[p]) = t.kind == Token::Null ? nullptr : MakeBytes(t.bytes);
          break;
        default:
          V_I8(&storage[p]) = t.number;
          break;
      }
    } else if (takesInput && !optional && !(flags & PARAMFLAG_FOUT)) {
      std::printf("%s: too few arguments\n", Utf8(name).c_str());
      for (VARIANT& v : storage) VariantClear(&v);
      return false;
    }
    if (pointer) {
      types[p] = VT_PTR;
      V_VT(&arguments[p]) = VT_PTR;
      V_BYREF(&arguments[p]) = base == (VT_ARRAY | VT_UI1)
                                   ? static_cast<void*>(&V_ARRAY(&storage[p]))
                               : base == VT_VARIANT ? static_cast<void*>(&storage[p])
                                                    : static_cast<void*>(&V_I8(&storage[p]));
      if (base == VT_VARIANT) V_VT(&storage[p]) = VT_EMPTY;
    } else {
      types[p] = base == VT_LPWSTR ? static_cast<VARTYPE>(VT_BSTR) : base;
      arguments[p] = storage[p];
      if (base == VT_LPWSTR) V_VT(&arguments[p]) = VT_BSTR;
    }
    pointers[p] = &arguments[p];
  }
  if (next < tokens.size()) {
    std::printf("%s: too many arguments\n", Utf8(name).c_str());
  }

  VARIANT result;
  VariantInit(&result);
  HRESULT call = DispCallFunc(broker, method.vtableOffset, CC_STDCALL, VT_ERROR,
                              static_cast<UINT>(count), types.data(), pointers.data(), &result);
  HRESULT hr = SUCCEEDED(call) ? V_ERROR(&result) : call;
  std::string text = Utf8(name) + " -> 0x";
  char code[16];
  std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(hr));
  text += code;
  for (size_t p = 0; p < count; ++p) {
    if (!(method.params[p].flags & PARAMFLAG_FOUT)) continue;
    text += " " + Utf8(method.params[p].name) + "=";
    VARIANT& v = storage[p];
    for (const auto& [as, parameter] : keep) {
      if (parameter != method.params[p].name) continue;
      g_named[as] = V_VT(&v) == VT_I4    ? static_cast<long long>(V_I4(&v))
                    : V_VT(&v) == VT_UI4 ? static_cast<long long>(V_UI4(&v))
                                         : V_I8(&v);
    }
    switch (V_VT(&v)) {
      case VT_BSTR:
        text += V_BSTR(&v) ? "\"" + Utf8(V_BSTR(&v)) + "\"" : "null";
        break;
      case VT_ARRAY | VT_UI1:
        text += DescribeBytes(V_ARRAY(&v));
        break;
      case VT_I4:
        text += std::to_string(static_cast<LONG>(V_I4(&v)));
        break;
      case VT_UI4:
        text += std::to_string(static_cast<ULONG>(V_UI4(&v)));
        break;
      case VT_I8:
        text += std::to_string(V_I8(&v));
        break;
      default:
        text += DescribeVariant(v);
        break;
    }
  }
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  for (VARIANT& v : storage) VariantClear(&v);
  return true;
}

std::vector<std::wstring> ReadScript(const wchar_t* path) {
  std::vector<std::wstring> lines;
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) bytes.append(chunk, got);
  CloseHandle(file);
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int size =
        MultiByteToWideChar(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), wide.data(), size);
    lines.push_back(wide);
    start = end + 1;
  }
  return lines;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> calls;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--script") == 0 && i + 1 < argc) {
      for (const std::wstring& line : ReadScript(argv[++i])) calls.push_back(line);
    } else {
      calls.push_back(argv[i]);
    }
  }
  if (FAILED(CoInitialize(nullptr))) return 10;
  int status = 0;
  {
    IGlintBroker6* broker = nullptr;
    HRESULT created = E_FAIL;
    // A server of the class that is just ending can refuse activation for a
    // moment; the player tries a few times before giving up.
    for (int attempt = 0; attempt < 6; ++attempt) {
      created = CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER,
                                 IID_IGlintBroker6, reinterpret_cast<void**>(&broker));
      if (created != REGDB_E_CLASSNOTREG && created != CO_E_SERVER_EXEC_FAILURE &&
          created != HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)) {
        break;
      }
      Sleep(500);
    }
    std::printf("create broker -> 0x%08lX\n", static_cast<unsigned long>(created));
    std::fflush(stdout);
    if (FAILED(created)) {
      CoUninitialize();
      return 11;
    }
    std::map<std::wstring, Method> methods;
    ITypeLib* library = nullptr;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_GlintBrokerLib, 1, 0, 0, &library)) &&
        SUCCEEDED(library->GetTypeInfoOfGuid(IID_IGlintBroker6, &info))) {
      // The dual interface's vtable side.
      HREFTYPE vtableSide = 0;
      ITypeInfo* vtableInfo = nullptr;
      if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableSide)) &&
          SUCCEEDED(info->GetRefTypeInfo(vtableSide, &vtableInfo))) {
        info->Release();
        info = vtableInfo;
      }
      LoadMethods(info, methods);
    } else {
      std::printf("the broker's type library is not registered\n");
      status = 12;
    }
    for (const std::wstring& raw : calls) {
      std::wstring line = raw;
      while (!line.empty() && iswspace(line.front())) line.erase(line.begin());
      if (line.empty() || line[0] == L'#') continue;
      if (line.rfind(L"sleep ", 0) == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(line.c_str() + 6, nullptr, 10)));
        continue;
      }
      if (line == L"release" && broker != nullptr) {
        broker->Release();
        broker = nullptr;
        std::printf("release broker\n");
        std::fflush(stdout);
        continue;
      }
      if (broker == nullptr || !RunCall(broker, methods, line)) status = 13;
    }
    if (info != nullptr) info->Release();
    if (library != nullptr) library->Release();
    if (broker != nullptr) broker->Release();
  }
  CoUninitialize();
  return status;
}
